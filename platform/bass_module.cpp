// Tracker modules of the BASS stand-in, rendered with libopenmpt: stereo 16-bit, played once.

#include <libopenmpt/libopenmpt.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/bass_channel.h"

namespace pelloran::bass {

namespace {

struct ModuleDestroyer {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using ModulePtr = std::unique_ptr<openmpt_module, ModuleDestroyer>;

struct OpenmptStringFreer {
    void operator()(const char* s) const { openmpt_free_string(s); }
};
using OpenmptString = std::unique_ptr<const char, OpenmptStringFreer>;

// Module types BASS reads; libopenmpt knows many more, which are left to other readers.
constexpr const char* kModuleTypes[] = {"mod", "xm", "it", "s3m", "mtm", "umx", "mo3"};

// Larger files are not taken for modules (the biggest real ones are a few tens of megabytes).
constexpr int64_t kMaxModuleBytes = 256 * 1024 * 1024;

constexpr int kDefaultRate = 44100;

std::string Metadata(openmpt_module* module, const char* key) {
    OpenmptString value(openmpt_module_get_metadata(module, key));
    return value ? std::string(value.get()) : std::string();
}

class ModuleChannel final : public Channel {
public:
    bool Open(const std::string& file, uint32_t rate);
    uint32_t GetData(void* buffer, uint32_t bytes) override;
    TagFields ReadTagFields() override;

private:
    ModulePtr module_;
    int rate_ = kDefaultRate;
    uint64_t framesLeft_ = 0;
};

bool ModuleChannel::Open(const std::string& file, uint32_t rate) {
    path = file;
    File in;
    if (!in.Open(file, "rb")) return false;
    const int64_t size = in.Size();
    if (size <= 0 || size > kMaxModuleBytes) return false;
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (!in.ReadExact(data.data(), data.size())) return false;
    in.Close();

    int error = 0;
    module_.reset(openmpt_module_create_from_memory2(data.data(), data.size(), openmpt_log_func_silent, nullptr,
                                                      openmpt_error_func_ignore, nullptr, &error, nullptr,
                                                      nullptr));
    if (!module_) return false;

    const std::string type = Metadata(module_.get(), "type");
    const std::string container = Metadata(module_.get(), "container");
    bool known = container == "umx";
    for (const char* t : kModuleTypes) known = known || type == t;
    if (!known) return false;

    openmpt_module_set_repeat_count(module_.get(), 0);
    // No dither: the same module always renders to the same samples.
    openmpt_module_ctl_set_integer(module_.get(), "dither", 0);
    rate_ = rate == 0 ? kDefaultRate : static_cast<int>(rate);
    // libopenmpt renders 8 kHz to 192 kHz.
    if (rate_ < 8000 || rate_ > 192000) return false;

    const double seconds = openmpt_module_get_duration_seconds(module_.get());
    if (!(seconds > 0.0) || !std::isfinite(seconds)) return false;
    framesLeft_ = static_cast<uint64_t>(std::llround(seconds * rate_));
    if (framesLeft_ == 0) return false;

    info.freq = static_cast<uint32_t>(rate_);
    info.chans = 2;
    info.flags = 0;
    info.ctype = BASS_CTYPE_MUSIC_MOD;
    info.origres = 16;
    lengthBytes = framesLeft_ * FrameBytes();
    return true;
}

uint32_t ModuleChannel::GetData(void* buffer, uint32_t bytes) {
    auto* out = static_cast<int16_t*>(buffer);
    uint64_t want = bytes / FrameBytes();
    if (want > framesLeft_) want = framesLeft_;
    uint64_t done = 0;
    // The song stops at its computed length even if the player would go on.
    while (done < want) {
        const size_t got = openmpt_module_read_interleaved_stereo(module_.get(), rate_,
                                                                  static_cast<size_t>(want - done), out + done * 2);
        if (got == 0) break;
        done += got;
    }
    framesLeft_ -= done;
    if (done == 0) return kBassDataError;
    return static_cast<uint32_t>(done * FrameBytes());
}

TagFields ModuleChannel::ReadTagFields() {
    TagFields fields;
    fields.title = Metadata(module_.get(), "title");
    fields.artist = Metadata(module_.get(), "artist");
    return fields;
}

}  // namespace

std::unique_ptr<Channel> OpenModuleChannel(const std::string& path, uint32_t rate) {
    auto channel = std::make_unique<ModuleChannel>();
    if (!channel->Open(path, rate)) return nullptr;
    return channel;
}

}  // namespace pelloran::bass
