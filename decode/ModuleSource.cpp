#include "decode/ModuleSource.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/File.h"

namespace pelloran {

namespace {

struct ModuleDestroyer {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using ModulePtr = std::unique_ptr<openmpt_module, ModuleDestroyer>;

struct OpenmptStringFreer {
    void operator()(const char* s) const { openmpt_free_string(s); }
};
using OpenmptString = std::unique_ptr<const char, OpenmptStringFreer>;

// The module types taken; libopenmpt knows many more, which are left to other readers.
constexpr const char* kModuleTypes[] = {"mod", "xm", "it", "s3m", "mtm", "umx", "mo3"};

// Larger files are not taken for modules (the biggest real ones are a few tens of megabytes).
constexpr int64_t kMaxModuleBytes = 256 * 1024 * 1024;

constexpr int kDefaultRate = 44100;

std::string Metadata(openmpt_module* module, const char* key) {
    OpenmptString value(openmpt_module_get_metadata(module, key));
    return value ? std::string(value.get()) : std::string();
}

}  // namespace

struct ModuleSource::State {
    ModulePtr module;
    int rate = kDefaultRate;
    uint64_t framesLeft = 0;
};

ModuleSource::ModuleSource() : s_(std::make_unique<State>()) {}
ModuleSource::~ModuleSource() = default;

std::unique_ptr<ModuleSource> ModuleSource::Open(const File& file, int rate) {
    const int64_t size = file.Size();
    if (size <= 0 || size > kMaxModuleBytes) return nullptr;
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (!file.ReadExactAt(0, data.data(), data.size())) return nullptr;

    std::unique_ptr<ModuleSource> source(new ModuleSource);
    State& s = *source->s_;
    int error = 0;
    s.module.reset(openmpt_module_create_from_memory2(data.data(), data.size(), openmpt_log_func_silent, nullptr,
                                                      openmpt_error_func_ignore, nullptr, &error, nullptr,
                                                      nullptr));
    if (!s.module) return nullptr;

    const std::string type = Metadata(s.module.get(), "type");
    bool known = Metadata(s.module.get(), "container") == "umx";
    for (const char* t : kModuleTypes) known = known || type == t;
    if (!known) return nullptr;

    openmpt_module_set_repeat_count(s.module.get(), 0);
    // No dither: the same module always renders to the same samples.
    openmpt_module_ctl_set_integer(s.module.get(), "dither", 0);
    s.rate = rate == 0 ? kDefaultRate : rate;
    if (s.rate < 8000 || s.rate > 192000) return nullptr;  // libopenmpt's range

    const double seconds = openmpt_module_get_duration_seconds(s.module.get());
    if (!(seconds > 0.0) || !std::isfinite(seconds)) return nullptr;
    s.framesLeft = static_cast<uint64_t>(std::llround(seconds * s.rate));
    if (s.framesLeft == 0) return nullptr;
    source->format_ = {s.rate, 2, 16};
    source->lengthFrames_ = s.framesLeft;
    return source;
}

size_t ModuleSource::Read(void* out, size_t frames) {
    State& s = *s_;
    auto* samples = static_cast<int16_t*>(out);
    const uint64_t want = std::min<uint64_t>(frames, s.framesLeft);
    uint64_t done = 0;
    // The song stops at its computed length even if the player would go on.
    while (done < want) {
        const size_t got = openmpt_module_read_interleaved_stereo(s.module.get(), s.rate,
                                                                  static_cast<size_t>(want - done), samples + done * 2);
        if (got == 0) break;
        done += got;
    }
    s.framesLeft -= done;
    return static_cast<size_t>(done);
}

bool ModuleSource::ReadTags(TagRecord& tags) {
    TagRecord found;
    found.Title = Metadata(s_->module.get(), "title");
    found.Artist = Metadata(s_->module.get(), "artist");
    if (found.Empty()) return false;
    tags = std::move(found);
    return true;
}

}  // namespace pelloran
