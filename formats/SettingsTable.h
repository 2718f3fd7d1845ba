#pragma once
// The one settings table: the general options and every output format's own, read from the descriptors.
// Loading, saving, -s, the everyday controls and --list-settings all work on it.

#include <string>
#include <string_view>
#include <vector>

#include "formats/OutputFormat.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// Reads every stored value over the defaults and applies the load checks.
// Values of the wrong type or out of range keep the default; warnings, when given, receives "Name: reason"
// for each of them.
void LoadSettings(ConvertSettings& settings, const RegistryStore& store,
                  std::vector<std::string>* warnings = nullptr);
// Writes the chosen groups into the store (the caller commits it).
void SaveSettings(const ConvertSettings& settings, int groups, RegistryStore& store);

// Sets one option by its stored name ("MP3BitRate", "MP3Tag.Artist", any letter case) from text: a number in
// the option's range or one of its names ("skip"). False with a reason (and a near name when there is one).
bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value,
                      std::string& error);

// Sets a control of the chosen output format and turns its automatic mode off; false with the reason when the
// format has no such control or the value is out of range.
bool ApplyFormatControl(ConvertSettings& settings, FormatControl control, int32_t value, std::string& error);
// Sets one tag field (title, artist, album, year, genre, comment, track, composer, copyright) of the chosen
// format on top of the source's tags (tag type "merge"); false with the reason when the format holds no tags.
bool ApplyTagOverride(ConvertSettings& settings, std::string_view field, std::string_view value, std::string& error);

// Warnings for the options named (as given to -s) that the other settings make ineffective, each saying what
// to use instead.
std::vector<std::string> IneffectiveSettings(const ConvertSettings& settings, const std::vector<std::string>& names);

// The value of a numeric option by its stored name; 0 for an unknown name.
int32_t NumberSetting(const ConvertSettings& settings, std::string_view name);

// One option as --list-settings shows it.
struct SettingInfo {
    std::string name;
    std::string type;          // "number" or "text"
    std::string range;         // "0 to 320", "11, 22 or 33 (rename|overwrite|skip)"; "" for texts
    std::string defaultValue;
    std::string currentValue;
    std::string meaning;
};
std::vector<SettingInfo> DescribeSettings(const ConvertSettings& current);

}  // namespace pelloran
