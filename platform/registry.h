#pragma once
// The settings file: plain sections of Name=value lines, in the user's configuration folder.
//
//   [Options]
//   MP3BitRate=128
//   Folder=/home/ana/Music
//
//   [Options/MP3Tag]
//   Artist=
//
// A key "Options\MP3Tag" is the section [Options/MP3Tag]. Values are untyped text: ReadNumber parses
// decimal digits, and a value keeps its leading and trailing spaces; a backslash, a line break, a carriage
// return and a NUL byte are written \\, \n, \r and \0.
//
// The older typed form ([Software\Brenthaven\Pelloran\Options], Name=number:42, Name=text:...) is still
// read, from a file named outright or once from the old place (see Load).
//
// Written atomically (temporary file + rename, mode 0600); a settings path that is a symbolic link stays
// one and its target is rewritten. A file that cannot be read, or is no settings file, means defaults and is
// never overwritten; lines that do not parse are ignored.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran {

class RegistryStore {
public:
    // $XDG_CONFIG_HOME/pelloran/pelloran.conf, with ~/.config when the variable is unset.
    static std::string DefaultPath();
    // Where earlier versions kept the settings: $XDG_CONFIG_HOME/Brenthaven/Pelloran.conf.
    static std::string LegacyPath();

    enum class LoadStatus {
        Loaded,       // read and parsed
        Missing,      // no file yet: an empty store that may be written
        Unreadable,   // permissions, not a regular file, too large, a read error
        NotSettings,  // NUL bytes, or text of which no line is a section header or a value in a section
    };
    // Loads path, in either form. Unless the file was loaded or is missing, the store is empty, Commit refuses
    // to write it and loadError() says why.
    // When path is DefaultPath() and missing while LegacyPath() loads, the old file's values are taken and
    // written at once to path in the plain form (Loaded); the old file is left as it is, and once the new
    // file exists it is never read again.
    LoadStatus Load(const std::string& path);
    // Reason of the last failed Load ("Permission denied", "not a regular file", ...); empty otherwise.
    const std::string& loadError() const { return loadError_; }
    // Writes the whole store to its file atomically; false on failure or when the file could not be loaded.
    bool Commit() const;

    bool KeyExists(const std::string& key) const;
    void CreateKey(const std::string& key);
    // The value as a number: optional blanks and sign, decimal digits, -2^31 to 2^32-1 (codes above 2^31-1
    // wrap, as they are stored). Anything else is no number.
    std::optional<int32_t> ReadNumber(const std::string& key, const std::string& name) const;
    std::optional<std::string> ReadText(const std::string& key, const std::string& name) const;
    void WriteNumber(const std::string& key, const std::string& name, int32_t value);
    void WriteText(const std::string& key, const std::string& name, const std::string& value);

    // True when name holds a value in key, whether it parses as a number or not.
    bool HasValue(const std::string& key, const std::string& name) const;
    // "Name: reason" for each line of the loaded file that did not parse (the default applies to it); at
    // most a hundred, then one that says more were left out.
    const std::vector<std::string>& parseWarnings() const { return parseWarnings_; }

    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }

    // Text form of the store, and parsing of text in either form (exposed for tests). Parse adds what it
    // finds and returns how many lines were section headers or values in a section.
    std::string Serialize() const;
    size_t Parse(const std::string& text);

private:
    LoadStatus Migrate();
    void Warn(std::string_view name, const std::string& reason);

    std::map<std::string, std::map<std::string, std::string>> keys_;
    std::string path_;
    bool writable_ = true;
    std::string loadError_;
    std::vector<std::string> parseWarnings_;
};

}  // namespace pelloran
