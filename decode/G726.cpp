#include "decode/G726.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace pelloran {

namespace {

// Per-coding tables: log2 of the normalized inverse-quantizer output (x128), the scale-factor
// multiplier W(I) (x512) and the speed-control function F(I) (x512), indexed by the whole code.
struct Coding {
    int signBit;
    int magnitudeMask;  // bits of the difference magnitude kept when it is added to the estimate
    int leakShift;      // zero-coefficient leak: 8, or 9 for the 5-bit coding
    const int* dqln;
    const int* w;
    const int* f;
};

constexpr int kDqln3[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int kW3[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int kF3[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

constexpr int kDqln4[16] = {-2048, 4, 135, 213, 273, 323, 373, 425, 425, 373, 323, 273, 213, 135, 4, -2048};
constexpr int kW4[16] = {-384,  576,   1312,  2048,  3584,  6336,  11360, 35904,
                         35904, 11360, 6336,  3584,  2048,  1312,  576,   -384};
constexpr int kF4[16] = {0, 0, 0, 0x200, 0x200, 0x200, 0x600, 0xE00, 0xE00, 0x600, 0x200, 0x200, 0x200, 0, 0, 0};

constexpr int kDqln5[32] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395, 429, 459, 488, 514, 539, 566,
                            566,   539, 514, 488, 459, 429, 395, 358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr int kW5[32] = {448,   448,   768,   1248,  1280,  1312,  1856,  3200,  4512,  5728,  7008,
                         8960,  11456, 14080, 16928, 22272, 22272, 16928, 14080, 11456, 8960,  7008,
                         5728,  4512,  3200,  1856,  1312,  1280,  1248,  768,   448,   448};
constexpr int kF5[32] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200, 0x200, 0x200, 0x400,
                         0x600, 0x800, 0xA00, 0xC00, 0xC00, 0xC00, 0xC00, 0xA00, 0x800, 0x600, 0x400,
                         0x200, 0x200, 0x200, 0x200, 0x200, 0,     0,     0,     0,     0};

constexpr Coding kCoding3 = {0x04, 0x3FFF, 8, kDqln3, kW3, kF3};
constexpr Coding kCoding4 = {0x08, 0x3FFF, 8, kDqln4, kW4, kF4};
constexpr Coding kCoding5 = {0x10, 0x7FFF, 9, kDqln5, kW5, kF5};

const Coding& CodingFor(int codeBits) {
    if (codeBits == 3) return kCoding3;
    if (codeBits == 5) return kCoding5;
    return kCoding4;
}

// Number of significant bits of a non-negative magnitude, at most 15.
int BitLength(int magnitude) {
    int bits = 0;
    while (bits < 15 && (magnitude >> bits) != 0) ++bits;
    return bits;
}

// The recommendation's 11-bit floating form: sign, 4-bit exponent, 6-bit mantissa (32 for zero).
int ToFloat(bool negative, int magnitude) {
    const int exponent = BitLength(magnitude);
    const int mantissa = magnitude == 0 ? 32 : ((magnitude << 6) >> exponent) & 0x3F;
    return (negative ? 0x400 : 0) | (exponent << 6) | mantissa;
}

// Wraps to a 16-bit two's complement value, as the recommendation's 16-bit arithmetic does.
int Wrap16(int v) { return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)); }

// FMULT: product of a 16-bit predictor coefficient and a floating-form signal value.
int Fmult(int coefficient, int value) {
    const int an = coefficient >> 2;
    const bool anNegative = an < 0;
    const int anMag = anNegative ? (-an) & 0x1FFF : an;
    const int anExp = BitLength(anMag);
    const int anMant = anMag == 0 ? 32 : (anMag << 6) >> anExp;
    const bool srNegative = (value & 0x400) != 0;
    const int srExp = (value >> 6) & 0x0F;
    const int srMant = value & 0x3F;
    const int exp = anExp + srExp;
    const int mant = (anMant * srMant + 48) >> 4;
    const int mag = exp <= 26 ? (mant << 7) >> (26 - exp) : ((mant << 7) << (exp - 26)) & 0x7FFF;
    return anNegative != srNegative ? -mag : mag;
}

}  // namespace

void G726Decoder::Reset(int codeBits) {
    codeBits_ = (codeBits == 3 || codeBits == 5) ? codeBits : 4;
    yl_ = 34816;
    yu_ = 544;
    dms_ = dml_ = ap_ = 0;
    std::fill(std::begin(a_), std::end(a_), int16_t{0});
    std::fill(std::begin(b_), std::end(b_), int16_t{0});
    std::fill(std::begin(pk_), std::end(pk_), 0);
    std::fill(std::begin(dq_), std::end(dq_), 32);
    std::fill(std::begin(sr_), std::end(sr_), 32);
    td_ = 0;
}

int16_t G726Decoder::Decode(unsigned code) {
    const Coding& coding = CodingFor(codeBits_);
    const int i = static_cast<int>(code & ((1u << codeBits_) - 1));

    // Signal estimate: six-zero section, then the two poles (ACCUM).
    int sezi = 0;
    for (int n = 0; n < 6; ++n) sezi += Fmult(b_[n], dq_[n]);
    sezi = Wrap16(sezi);
    const int sei = Wrap16(sezi + Fmult(a_[0], sr_[0]) + Fmult(a_[1], sr_[1]));
    const int sez = sezi >> 1;
    const int se = sei >> 1;

    // Step size: mix of the fast and slow scale factors by the speed control (LIMA, MIX).
    int y = yl_ >> 6;
    if (ap_ < 256) {
        const int dif = yu_ - y;
        const int al = ap_ >> 2;
        const int prod = (std::abs(dif) * al) >> 6;
        y += dif < 0 ? -prod : prod;
    } else {
        y = yu_;
    }

    // Inverse quantization in the log domain, then back to linear (ADDA, ANTILOG).
    const bool negative = (i & coding.signBit) != 0;
    const int dql = coding.dqln[i] + (y >> 2);
    int dqMag = 0;
    if (dql >= 0) {
        const int dex = std::min((dql >> 7) & 15, 14);
        const int dqt = 128 + (dql & 127);
        dqMag = ((dqt << 7) >> (14 - dex)) & coding.magnitudeMask;
    }
    const int dq = negative ? -dqMag : dqMag;

    // Reconstruction (ADDB) and the partial estimate used for the pole update (ADDC).
    const int sr = Wrap16(se + dq);
    const int dqsez = Wrap16(dq + sez);

    Update(y, coding.w[i], coding.f[i], negative ? -0x8000 | dqMag : dqMag, sr, dqsez);

    const int sample = sr * 4;
    return static_cast<int16_t>(std::clamp(sample, -32768, 32767));
}

// State update after one code. dq carries the sign in bit 15 (negative int) and the magnitude in 15 bits.
void G726Decoder::Update(int y, int wi, int fi, int dq, int sr, int dqsez) {
    const Coding& coding = CodingFor(codeBits_);
    const bool dqNegative = dq < 0;
    const int dqMag = dq & 0x7FFF;
    const int pk0 = dqsez < 0 ? 1 : 0;

    // Transition detector (TRANS): a large difference during a tone resets the predictor.
    const int ylInt = yl_ >> 15;
    const int ylFrac = (yl_ >> 10) & 0x1F;
    const int thr1 = (32 + ylFrac) << ylInt;
    const int thr2 = ylInt > 9 ? 31 << 10 : thr1;
    const int dqThr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = td_ != 0 && dqMag > dqThr;

    // Quantizer scale factors (FILTD, LIMB, FILTE).
    yu_ = std::clamp(y + ((wi - y) >> 5), 544, 5120);
    yl_ += yu_ + ((-yl_) >> 6);

    int a2p = 0;
    if (tr) {
        std::fill(std::begin(a_), std::end(a_), int16_t{0});
        std::fill(std::begin(b_), std::end(b_), int16_t{0});
    } else {
        const bool pks1 = (pk0 ^ pk_[0]) != 0;
        const bool pks2 = (pk0 ^ pk_[1]) != 0;
        // Second pole (UPA2, LIMC).
        a2p = a_[1] - (a_[1] >> 7);
        if (dqsez != 0) {
            const int fa1 = pks1 ? a_[0] : -a_[0];
            if (fa1 < -8191) {
                a2p -= 0x100;
            } else if (fa1 > 8191) {
                a2p += 0xFF;
            } else {
                a2p += fa1 >> 5;
            }
            a2p += pks2 ? -0x80 : 0x80;
        }
        a2p = std::clamp(a2p, -12288, 12288);
        a_[1] = static_cast<int16_t>(a2p);

        // First pole (UPA1, LIMD).
        int a1 = a_[0] - (a_[0] >> 8);
        if (dqsez != 0) a1 += pks1 ? -192 : 192;
        const int a1Limit = 15360 - a2p;
        a_[0] = static_cast<int16_t>(std::clamp(a1, -a1Limit, a1Limit));

        // Zeros (UPB), in 16-bit arithmetic.
        for (int n = 0; n < 6; ++n) {
            int bn = b_[n] - (b_[n] >> coding.leakShift);
            if (dqMag != 0) {
                const bool sameSign = dqNegative == ((dq_[n] & 0x400) != 0);
                bn += sameSign ? 128 : -128;
            }
            b_[n] = static_cast<int16_t>(Wrap16(bn));
        }
    }

    // Delay lines of the quantized difference and the reconstructed signal (FLOATA, FLOATB).
    for (int n = 5; n > 0; --n) dq_[n] = dq_[n - 1];
    dq_[0] = ToFloat(dqNegative, dqMag);
    sr_[1] = sr_[0];
    sr_[0] = ToFloat(sr < 0, sr < 0 ? (-sr) & 0x7FFF : sr);
    pk_[1] = pk_[0];
    pk_[0] = pk0;

    // Tone detector (TONE), averages of F(I) (FILTA, FILTB) and the speed control (SUBTC, FILTC, TRIGA).
    td_ = (!tr && a2p < -11776) ? 1 : 0;
    dms_ += (fi - dms_) >> 5;
    dml_ += ((fi << 2) - dml_) >> 7;
    if (tr) {
        ap_ = 256;
    } else if (y < 1536 || td_ != 0 || std::abs((dms_ << 2) - dml_) >= (dml_ >> 3)) {
        ap_ += (0x200 - ap_) >> 4;
    } else {
        ap_ += (-ap_) >> 4;
    }
}

G726Codec::G726Codec(int codeBits, int channels) : codeBits_(codeBits), channels_(std::clamp(channels, 1, 2)) {
    for (auto& state : state_) state.Reset(codeBits);
    codeBits_ = state_[0].CodeBits();
}

int G726Codec::Decode(SoundData& data, int16_t* out, int count) {
    const int frameCount = std::max(count, 0) / channels_;
    const auto request = static_cast<size_t>(channels_ * codeBits_ * frameCount / 8);
    const auto want = static_cast<size_t>(std::min<uint64_t>(request, data.DataLeft()));
    if (bytes_.size() < want) bytes_.resize(want);
    const size_t got = data.ReadData(bytes_.data(), want);
    const int frames = static_cast<int>(
        std::min<size_t>(got * 8 / (static_cast<size_t>(channels_) * codeBits_), static_cast<size_t>(frameCount)));
    size_t next = 0;
    const uint32_t mask = (1u << codeBits_) - 1;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels_; ++c) {
            while (bitCount_ < codeBits_ && next < got) {
                bitBuffer_ |= static_cast<uint32_t>(bytes_[next++]) << bitCount_;
                bitCount_ += 8;
            }
            if (bitCount_ < codeBits_) return i * channels_;
            const uint32_t code = bitBuffer_ & mask;
            bitBuffer_ >>= codeBits_;
            bitCount_ -= codeBits_;
            out[i * channels_ + c] = state_[c].Decode(code);
        }
    }
    return frames * channels_;
}

}  // namespace pelloran
