#pragma once
// The options of one output format's group: what every format shares, then each format's own. The defaults
// every format shares are stated here; the others where ConvertSettings makes each format's record.

#include <cstdint>
#include <string>

namespace pelloran {

struct TagSettings {
    int32_t TitleAsFileName = 1;
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Genre;
    std::string Comment;
    std::string Composer;
    std::string Copyright;
    int32_t TrackNumType = 0;
    int32_t CustomTrackNum = 0;
};

// A field a format lacks keeps its value and is never stored.
struct FormatSettings {
    int32_t automatic = 1;  // rate, bit rate and channels follow the source (or the encoder's defaults)
    int32_t bitRate = 0;    // in the format's stored units (kbit/s; WMA bit/s)
    int32_t rate = 0;       // Hz; 0 as the source
    int32_t channels = 0;   // the format's channel code (MP3: its channel mode); 0 as the source
    int32_t bits = 0;       // bits per sample; 0 as the source
    int32_t quality = 0;    // of the quality mode, on the format's own scale
    int32_t mode = 0;       // the rate mode, by the format's codes (AAC: 1 quality, 0 average bit rate)
    int32_t tagType = 1;    // TagType: custom, from the source, none or merged
    int32_t copyCover = 1;  // cover art travels with the source's tags
    int32_t amplify = 0;
    int32_t gain = 100;     // percent, applied while amplify is on
    TagSettings tags = {};  // the custom tags
};

struct Mp3Settings : FormatSettings {
    int32_t id3Version = 1;  // 0 ID3v1, 1 ID3v2.3, 2 both, 3 ID3v2.4
    int32_t infoTag = 1;     // the Xing/LAME frame with length and delays; always for VBR and ABR
};

// AAC in ADTS and the MP4 family.
struct AacFormatSettings : FormatSettings {
    int32_t tns = 0;
    int32_t midside = 1;
    int32_t blockType = 0;    // 0 normal, 1 no short blocks, 2 no long blocks
    int32_t mpegVersion = 0;  // ADTS only: 0 MPEG-4, 1 MPEG-2
    int32_t codec = 0;        // MP4 family only: 0 AAC, 1 ALAC (lossless)
};

struct FlacSettings : FormatSettings {
    int32_t compression = 5;  // 0 fastest .. 8 smallest
};

struct OpusSettings : FormatSettings {
    int32_t complexity = 10;
};

// .amr (narrow- or wide-band) and .awb (wide-band).
struct AmrSettings : FormatSettings {
    int32_t band = 0;  // .amr: 0 narrow-band 8 kHz, 1 wide-band 16 kHz
    int32_t nbMode = 6;
    int32_t wbMode = 6;  // wide-band .amr
    int32_t dtx = 0;     // .amr
    int32_t awbMode = 6;
    int32_t awbDtx = 0;
};

}  // namespace pelloran
