#include "platform/SoundFont.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/FluidSynth.h"

namespace pelloran {

namespace {

constexpr int kCheckRate = 44100;

// The default SoundFont once found.
struct DefaultFont {
    std::mutex mutex;
    std::string path;
};

DefaultFont& Default() {
    static DefaultFont font;
    return font;
}

std::string ProgramFolderPath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
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

bool IsUsableSoundFont(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    FluidSynth synth;
    return synth.Create(path, kCheckRate);
}

bool LoadDefaultSoundFont() {
    // One search at a time; later calls find the font in place.
    static std::mutex searchMutex;
    std::lock_guard search(searchMutex);
    DefaultFont& font = Default();
    {
        std::lock_guard lock(font.mutex);
        if (!font.path.empty()) return true;
    }
    for (const std::string& candidate : SoundFontCandidates()) {
        if (!IsUsableSoundFont(candidate)) continue;
        std::lock_guard lock(font.mutex);
        font.path = candidate;
        return true;
    }
    return false;
}

std::string DefaultSoundFont() {
    DefaultFont& font = Default();
    std::lock_guard lock(font.mutex);
    return font.path;
}

}  // namespace pelloran
