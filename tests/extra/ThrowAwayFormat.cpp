// An output format that lives only in the test tree: one descriptor and its writer, registered beside the
// built-in formats. pelloran-cli-extra is pelloran-cli with this file linked in.
//
// The writer stores 16-bit PCM as Sun AU (read back by the AU reader) and the TSTLevel option in the header's
// annotation, so that a test can see the option arrive.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "decode/AudioDecoder.h"
#include "encode/AudioWriter.h"
#include "formats/OutputFormat.h"

namespace pelloran {
namespace {

void PutU32BE(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

class TstWriter final : public AudioWriter {
public:
    explicit TstWriter(int level) : level_(level) {}

protected:
    bool Begin(const std::string& path, const PcmFormat& format, const TagRecord&) override {
        if (format.bits != 16) return Fail(WriterError::Library, 0, "16-bit blocks only");
        file_.reset(std::fopen(path.c_str(), "wb"));
        if (!file_) return Io(false);
        channels_ = format.channels;
        std::vector<uint8_t> header = {'.', 's', 'n', 'd'};
        PutU32BE(header, 32);           // data offset: 24 bytes and an 8-byte annotation
        PutU32BE(header, 0xFFFFFFFFu);  // size unknown until the end
        PutU32BE(header, 3);            // 16-bit linear PCM
        PutU32BE(header, static_cast<uint32_t>(format.rate));
        PutU32BE(header, static_cast<uint32_t>(format.channels));
        char annotation[8] = {};
        std::snprintf(annotation, sizeof annotation, "level=%d", level_);
        header.insert(header.end(), annotation, annotation + sizeof annotation);
        return Io(std::fwrite(header.data(), 1, header.size(), file_.get()) == header.size());
    }
    bool Put(const int32_t* const* planes, int frames) override {
        bytes_.clear();
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < channels_; ++c) {
                const auto v = static_cast<uint16_t>(planes[c][i]);
                bytes_.push_back(static_cast<uint8_t>(v >> 8));
                bytes_.push_back(static_cast<uint8_t>(v));
            }
        }
        dataBytes_ += bytes_.size();
        return Io(std::fwrite(bytes_.data(), 1, bytes_.size(), file_.get()) == bytes_.size());
    }
    bool End() override {
        std::vector<uint8_t> size;
        PutU32BE(size, static_cast<uint32_t>(dataBytes_));
        const bool done = std::fseek(file_.get(), 8, SEEK_SET) == 0 &&
                          std::fwrite(size.data(), 1, size.size(), file_.get()) == size.size();
        return Io(std::fclose(file_.release()) == 0 && done);
    }
    void Release() override { file_.reset(); }

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
    std::vector<uint8_t> bytes_;
    uint64_t dataBytes_ = 0;
    int channels_ = 1;
    int level_;
};

constexpr int32_t kDefaultLevel = 5;
int32_t& Level(ConvertSettings& s) { return s.MoreNumber("TSTLevel", kDefaultLevel); }
// Plans read the settings of parallel conversions: never inserting.
int32_t LevelOf(const ConvertSettings& s) {
    const auto it = s.moreNumbers.find("TSTLevel");
    return it == s.moreNumbers.end() ? kDefaultLevel : it->second;
}

constexpr NumberRow kNumbers[] = {
    {"TSTLevel", Level, kSaveOptionsGroup, CheckNone, Span(0, 9), kNoNames, "TST: level, 0 to 9"},
};
constexpr FormatOptions kOptions = {"TST", kNumbers, {}, nullptr, nullptr, {.quality = "TSTLevel"}};

int RateHint(const ConvertSettings&) { return 44100; }

bool Plan(const PlanInput& in, WriterPlan& plan) {
    plan.format = LossyInput(in.source);
    plan.writer = std::make_unique<TstWriter>(LevelOf(in.settings));
    return true;
}

constinit const OutputFormatDescriptor kTstFormat = {
    .code = 9100,
    .name = "tst",
    .extension = "tst",
    .listRows = {{"TST (test only)", 100}, {}},
    .lossless = true,
    .maxChannels = 2,
    .tags = false,
    .options = &kOptions,
    .readAs = kInputAu,
    .rateHint = RateHint,
    .plan = Plan,
};

const bool kRegistered = RegisterOutputFormat(kTstFormat);

}  // namespace
}  // namespace pelloran
