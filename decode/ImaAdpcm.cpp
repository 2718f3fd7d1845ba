#include "decode/ImaAdpcm.h"

#include <algorithm>

#include "platform/File.h"

namespace pelloran {

namespace {

constexpr int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kMaxBlockChannels = 8;

constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

void ImaChannelState::Reset(int firstSample, int stepIndex) {
    predictor = std::clamp(firstSample, -32768, 32767);
    index = std::clamp(stepIndex, 0, 88);
}

int16_t ImaChannelState::Decode(uint8_t code) {
    code &= 0x0F;
    const int step = kStepTable[index];
    int diff = step >> 3;
    if (code & 1) diff += step >> 2;
    if (code & 2) diff += step >> 1;
    if (code & 4) diff += step;
    if (code & 8) diff = -diff;
    predictor = std::clamp(predictor + diff, -32768, 32767);
    index = std::clamp(index + kIndexTable[code], 0, 88);
    return static_cast<int16_t>(predictor);
}


bool ImaBlockCodec::Create(const uint8_t* formatBlock, size_t size) {
    if (size < 20) return false;
    const int channels = LoadU16LE(formatBlock + 2);
    const int blockAlign = LoadU16LE(formatBlock + 12);
    const int extensionSize = LoadU16LE(formatBlock + 16);
    const int samplesPerBlock = LoadU16LE(formatBlock + 18);
    if (channels < 1 || channels > kMaxBlockChannels || extensionSize < 2 || samplesPerBlock < 1) return false;
    const int header = 4 * channels;
    if (blockAlign < header) return false;
    const int capacity = 1 + 8 * ((blockAlign - header) / header);
    if (samplesPerBlock > capacity) return false;
    channels_ = channels;
    blockAlign_ = blockAlign;
    samplesPerBlock_ = samplesPerBlock;
    return true;
}

bool ImaBlockCodec::DecodeBlock(const uint8_t* block, int16_t* out) {
    const int channels = channels_;
    ImaChannelState state[kMaxBlockChannels];
    for (int c = 0; c < channels; ++c) {
        const uint8_t* h = block + c * 4;
        state[c].Reset(static_cast<int16_t>(LoadU16LE(h)), h[2]);
        out[c] = static_cast<int16_t>(state[c].predictor);
    }
    const uint8_t* groups = block + 4 * channels;
    const int groupCount = (samplesPerBlock_ - 1 + 7) / 8;
    for (int g = 0; g < groupCount; ++g) {
        for (int c = 0; c < channels; ++c) {
            const uint8_t* bytes = groups + (g * channels + c) * 4;
            for (int k = 0; k < 8; ++k) {
                const int sample = 1 + g * 8 + k;
                if (sample >= samplesPerBlock_) break;
                const uint8_t byte = bytes[k / 2];
                const uint8_t code = (k % 2 == 0) ? (byte & 0x0F) : (byte >> 4);
                out[sample * channels + c] = state[c].Decode(code);
            }
        }
    }
    return true;
}

bool Ima4Codec::DecodeBlock(const uint8_t* block, int16_t* out) {
    for (int c = 0; c < channels_; ++c) {
        const uint8_t* packet = block + kPacketBytes * static_cast<size_t>(c);
        const int predictor = static_cast<int16_t>(static_cast<uint16_t>((packet[0] << 8) | (packet[1] & 0x80)));
        ImaChannelState state;
        state.Reset(predictor, std::min(packet[1] & 0x7F, 88));
        for (int k = 0; k < kPacketSamples / 2; ++k) {
            const uint8_t byte = packet[2 + k];
            out[(2 * k) * channels_ + c] = state.Decode(byte & 0x0F);
            out[(2 * k + 1) * channels_ + c] = state.Decode(byte >> 4);
        }
    }
    return true;
}

}  // namespace pelloran
