// The BASS stand-in's handle table, start-up calls and the calls common to every channel family.

#include "platform/bass.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>

#include "platform/bass_channel.h"

namespace pelloran {

namespace {

using bass::Channel;

class HandleTable {
public:
    uint32_t Add(std::unique_ptr<Channel> channel) {
        if (!channel) return 0;
        std::lock_guard lock(mutex_);
        // Ids grow and skip 0 and ids still in use, so a stale handle rarely meets a new channel.
        do {
            ++next_;
        } while (next_ == 0 || channels_.count(next_) != 0);
        channels_.emplace(next_, std::shared_ptr<Channel>(std::move(channel)));
        return next_;
    }
    std::shared_ptr<Channel> Find(uint32_t handle) {
        std::lock_guard lock(mutex_);
        auto it = channels_.find(handle);
        return it == channels_.end() ? nullptr : it->second;
    }
    // Removes the handle when it names a channel of the wanted kind (module or stream).
    bool Remove(uint32_t handle, bool music) {
        std::shared_ptr<Channel> doomed;
        {
            std::lock_guard lock(mutex_);
            auto it = channels_.find(handle);
            if (it == channels_.end() || it->second->IsMusic() != music) return false;
            doomed = std::move(it->second);
            channels_.erase(it);
        }
        // Wait for a call still running on the channel before it goes.
        std::lock_guard channelLock(doomed->mutex);
        return true;
    }

private:
    std::mutex mutex_;
    uint32_t next_ = 0;
    std::unordered_map<uint32_t, std::shared_ptr<Channel>> channels_;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

// SoundFont handles and the default font of MIDI streams.
struct FontRegistry {
    std::mutex mutex;
    uint32_t next = 0;
    std::map<uint32_t, std::string> fonts;
    std::string defaultFont;
};

FontRegistry& Fonts() {
    static FontRegistry registry;
    return registry;
}

constexpr const char* kPluginNames[] = {
    "basscd.dll",    "bassflac.dll",  "basswma.dll",  "basswv.dll",   "bass_aac.dll", "bass_adx.dll",
    "bass_alac.dll", "bass_ape.dll",  "bass_mpc.dll", "bass_spx.dll", "bass_tta.dll",
};

std::string ProgramFolderPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().string();
}

// Candidate SoundFonts in the order they are tried.
std::vector<std::string> SoundFontCandidates() {
    std::vector<std::string> paths;
    const std::string programFolder = ProgramFolderPath();
    if (!programFolder.empty()) paths.push_back(programFolder + "/ct4mgm.sf2");
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        paths.push_back(std::string(xdg) + "/pelloran/ct4mgm.sf2");
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        paths.push_back(std::string(home) + "/.local/share/pelloran/ct4mgm.sf2");
    }
    for (const char* name : {"default-GM.sf2", "TimGM6mb.sf2", "FluidR3_GM.sf2"}) {
        paths.push_back(std::string("/usr/share/sounds/sf2/") + name);
    }
    return paths;
}

}  // namespace

namespace bass {

bool TagFields::Empty() const {
    return track.empty() && title.empty() && artist.empty() && album.empty() && genre.empty() && year.empty() &&
           comment.empty() && composer.empty() && copyright.empty();
}

TagFields Channel::ReadTagFields() { return ReadFileTags(path); }

}  // namespace bass

uint32_t BASS_GetVersion() { return kBassVersion | 0x0011; }

bool BASS_SetConfig(uint32_t option, uint32_t value) {
    // Only the update period is known; there is no playback thread to configure.
    (void)value;
    return option == BASS_CONFIG_UPDATEPERIOD;
}

bool BASS_Init(int device, uint32_t freq, uint32_t flags, void* window, void* clsid) {
    (void)freq;
    (void)flags;
    (void)window;
    (void)clsid;
    return device == 0;
}

bool BASS_Free() { return true; }

HPLUGIN BASS_PluginLoad(const std::string& file, uint32_t flags) {
    (void)flags;
    const std::string name = std::filesystem::path(file).filename().string();
    for (size_t i = 0; i < std::size(kPluginNames); ++i) {
        if (name == kPluginNames[i]) return static_cast<HPLUGIN>(i + 1);
    }
    return 0;
}

bool BASS_PluginFree(HPLUGIN handle) { return handle <= std::size(kPluginNames); }

HSOUNDFONT BASS_MIDI_FontInit(const std::string& file, uint32_t flags) {
    (void)flags;
    if (!bass::CheckSoundFont(file)) return 0;
    FontRegistry& registry = Fonts();
    std::lock_guard lock(registry.mutex);
    do {
        ++registry.next;
    } while (registry.next == 0 || registry.fonts.count(registry.next) != 0);
    registry.fonts.emplace(registry.next, file);
    return registry.next;
}

bool BASS_MIDI_StreamSetFonts(uint32_t handle, const BASS_MIDI_FONT* fonts, uint32_t count) {
    // Only the default of all streams (handle 0) is supported; streams render with one font.
    if (handle != 0 || fonts == nullptr || count == 0) return false;
    FontRegistry& registry = Fonts();
    std::lock_guard lock(registry.mutex);
    auto it = registry.fonts.find(fonts[0].font);
    if (it == registry.fonts.end()) return false;
    registry.defaultFont = it->second;
    return true;
}

bool LoadDefaultSoundFont() {
    static std::mutex loadMutex;
    std::lock_guard lock(loadMutex);
    {
        FontRegistry& registry = Fonts();
        std::lock_guard fontLock(registry.mutex);
        if (!registry.defaultFont.empty()) return true;
    }
    for (const std::string& candidate : SoundFontCandidates()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(candidate, ec)) continue;
        const HSOUNDFONT font = BASS_MIDI_FontInit(candidate, 0);
        if (font == 0) continue;
        const BASS_MIDI_FONT entry{font, -1, 0};
        return BASS_MIDI_StreamSetFonts(0, &entry, 1);
    }
    return false;
}

HSTREAM BASS_MIDI_StreamCreateFile(const std::string& file, uint64_t offset, uint64_t length, uint32_t flags,
                                   uint32_t rate) {
    (void)flags;
    if (offset != 0 || length != 0) return 0;
    std::string font;
    {
        FontRegistry& registry = Fonts();
        std::lock_guard lock(registry.mutex);
        font = registry.defaultFont;
    }
    return Handles().Add(bass::OpenMidiChannel(file, rate, font));
}

HSTREAM BASS_StreamCreateFile(const std::string& file, uint64_t offset, uint64_t length, uint32_t flags) {
    (void)flags;
    if (offset != 0 || length != 0) return 0;
    if (bass::IsCdaFile(file)) return Handles().Add(bass::OpenCdChannel(file));
    return Handles().Add(bass::OpenFfmpegChannel(file));
}

HMUSIC BASS_MusicLoad(const std::string& file, uint64_t offset, uint32_t length, uint32_t flags, uint32_t rate) {
    (void)flags;
    if (offset != 0 || length != 0) return 0;
    return Handles().Add(bass::OpenModuleChannel(file, rate));
}

uint64_t BASS_ChannelGetLength(uint32_t handle, uint32_t mode) {
    auto channel = Handles().Find(handle);
    if (!channel || mode != BASS_POS_BYTE) return kBassNoValue;
    std::lock_guard lock(channel->mutex);
    return channel->lengthBytes;
}

double BASS_ChannelBytes2Seconds(uint32_t handle, uint64_t bytes) {
    auto channel = Handles().Find(handle);
    if (!channel) return -1.0;
    std::lock_guard lock(channel->mutex);
    const uint64_t perSecond = uint64_t{channel->info.freq} * channel->FrameBytes();
    if (perSecond == 0) return -1.0;
    return static_cast<double>(bytes) / static_cast<double>(perSecond);
}

bool BASS_ChannelGetInfo(uint32_t handle, BASS_CHANNELINFO* info) {
    auto channel = Handles().Find(handle);
    if (!channel || info == nullptr) return false;
    std::lock_guard lock(channel->mutex);
    *info = channel->info;
    return true;
}

uint64_t BASS_StreamGetFilePosition(uint32_t handle, uint32_t mode) {
    auto channel = Handles().Find(handle);
    if (!channel || channel->IsMusic()) return kBassNoValue;
    std::lock_guard lock(channel->mutex);
    return channel->FilePosition(mode);
}

uint32_t BASS_ChannelGetData(uint32_t handle, void* buffer, uint32_t length) {
    auto channel = Handles().Find(handle);
    if (!channel || buffer == nullptr) return kBassDataError;
    std::lock_guard lock(channel->mutex);
    const uint32_t frameBytes = channel->FrameBytes();
    if (frameBytes == 0) return kBassDataError;
    const uint32_t wanted = length / frameBytes * frameBytes;
    if (wanted == 0) return 0;
    const uint32_t got = channel->GetData(buffer, wanted);
    if (got != kBassDataError) channel->positionBytes += got;
    return got;
}

bool BASS_StreamIsTruncated(HSTREAM handle) {
    auto channel = Handles().Find(handle);
    if (!channel) return false;
    std::lock_guard lock(channel->mutex);
    return channel->Truncated();
}

uint64_t BASS_ChannelGetPosition(uint32_t handle, uint32_t mode) {
    auto channel = Handles().Find(handle);
    if (!channel || mode != BASS_POS_BYTE) return kBassNoValue;
    std::lock_guard lock(channel->mutex);
    return channel->positionBytes;
}

const char* BASS_ChannelGetTags(uint32_t handle, uint32_t tags) {
    auto channel = Handles().Find(handle);
    if (!channel) return nullptr;
    std::lock_guard lock(channel->mutex);
    return channel->Tags(tags);
}

bool BASS_MusicFree(HMUSIC handle) { return Handles().Remove(handle, true); }

bool BASS_StreamFree(HSTREAM handle) { return Handles().Remove(handle, false); }

const char* TAGS_Read(uint32_t handle, const char* format) {
    auto channel = Handles().Find(handle);
    if (!channel || format == nullptr) return "";
    std::lock_guard lock(channel->mutex);
    channel->tagText = bass::FormatTagText(format, channel->ReadTagFields());
    return channel->tagText.c_str();
}

}  // namespace pelloran
