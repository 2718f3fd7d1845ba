#pragma once
// Stand-in for the per-user registry: a text file of key sections holding typed values.
//
//   [Software\Brenthaven\Pelloran\Options]
//   MP3BitRate=number:128
//   Folder=text:/home/ana/Music
//
// Written atomically (temporary file + rename); a settings path that is a symbolic link stays one and its
// target is rewritten. A file that cannot be read, or is no settings file, means defaults and is never
// overwritten; lines that do not parse are ignored.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pelloran {

class RegistryStore {
public:
    // $XDG_CONFIG_HOME/Brenthaven/Pelloran.conf, with ~/.config when the variable is unset.
    static std::string DefaultPath();

    enum class LoadStatus {
        Loaded,       // read and parsed
        Missing,      // no file yet: an empty store that may be written
        Unreadable,   // permissions, not a regular file, too large, a read error
        NotSettings,  // NUL bytes, or text of which no line is a section header or a typed value
    };
    // Loads path. Unless the file was loaded or is missing, the store is empty, Commit refuses to write it
    // and loadError() says why.
    LoadStatus Load(const std::string& path);
    // Reason of the last failed Load ("Permission denied", "not a regular file", ...); empty otherwise.
    const std::string& loadError() const { return loadError_; }
    // Writes the whole store to its file atomically; false on failure or when the file could not be loaded.
    bool Commit() const;

    bool KeyExists(const std::string& key) const;
    void CreateKey(const std::string& key);
    std::optional<int32_t> ReadNumber(const std::string& key, const std::string& name) const;
    std::optional<std::string> ReadText(const std::string& key, const std::string& name) const;
    void WriteNumber(const std::string& key, const std::string& name, int32_t value);
    void WriteText(const std::string& key, const std::string& name, const std::string& value);

    // True when name holds a value of either type in key.
    bool HasValue(const std::string& key, const std::string& name) const;
    // "Name: reason" for each value line of the loaded file that did not parse (the default applies to it).
    const std::vector<std::string>& parseWarnings() const { return parseWarnings_; }

    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }

    // Text form of the store, and parsing of such text (exposed for tests). Parse adds what it finds and
    // returns how many lines were section headers or typed values.
    std::string Serialize() const;
    size_t Parse(const std::string& text);

private:
    using Value = std::variant<int32_t, std::string>;
    std::map<std::string, std::map<std::string, Value>> keys_;
    std::string path_;
    bool writable_ = true;
    std::string loadError_;
    std::vector<std::string> parseWarnings_;
};

}  // namespace pelloran
