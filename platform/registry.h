#pragma once
// Stand-in for the per-user registry: a text file of key sections holding typed values.
//
//   [Software\Brenthaven\Pelloran\Options]
//   MP3BitRate=number:128
//   Folder=text:/home/ana/Music
//
// Written atomically (temporary file + rename). A file that cannot be read means defaults and is never
// overwritten; lines that do not parse are ignored.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace pelloran {

class RegistryStore {
public:
    // $XDG_CONFIG_HOME/Brenthaven/Pelloran.conf, with ~/.config when the variable is unset.
    static std::string DefaultPath();

    // Loads path. A missing file gives an empty store that may be written; an unreadable one (permissions,
    // not a regular file, larger than the bound) gives an empty store that Commit refuses to write.
    bool Load(const std::string& path);
    // Writes the whole store to its file atomically; false on failure or when the file was unreadable.
    bool Commit() const;

    bool KeyExists(const std::string& key) const;
    void CreateKey(const std::string& key);
    std::optional<int32_t> ReadNumber(const std::string& key, const std::string& name) const;
    std::optional<std::string> ReadText(const std::string& key, const std::string& name) const;
    void WriteNumber(const std::string& key, const std::string& name, int32_t value);
    void WriteText(const std::string& key, const std::string& name, const std::string& value);

    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }

    // Text form of the store, and parsing of such text (exposed for tests).
    std::string Serialize() const;
    void Parse(const std::string& text);

private:
    using Value = std::variant<int32_t, std::string>;
    std::map<std::string, std::map<std::string, Value>> keys_;
    std::string path_;
    bool writable_ = true;
};

}  // namespace pelloran
