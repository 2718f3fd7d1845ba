#pragma once
// The one settings table: the general options and every output format's own, read from the descriptors.
// Loading, saving, -s, the everyday controls and --list-settings all work on it.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/OutputFormat.h"
#include "settings/ConvertSettings.h"

namespace pelloran {

// What is wrong with a setting, an everyday control, a tag override or a stored value: a code with its data,
// which the front ends word (frontend/Wording.h, SettingProblemText).
enum class SettingIssue {
    None,
    UnknownName,             // name; other: a near name, or ""
    NeedsNumber,             // name, value; other: the names it takes too, or ""
    OutOfRange,              // name, value; other: the range
    StoredTextForNumber,     // name (loading: text stored where a number belongs)
    StoredNumberForText,     // name
    StoredOutOfRange,        // name, value; other: the range
    ControlNotApplicable,    // name: the option (--bitrate, ...); other: the output format
    ControlRefused,          // name: the option; value; cause
    NoTags,                  // other: the output format
    TagTrackRefused,         // cause
    UnknownTagField,         // value: the field
    NoEffectOnFormat,        // name; other: the output format
    NoEffectWhileAutomatic,  // name; other: the automatic switch
    NoEffectOutsideQuality,  // name; other: the quality switch; value: its value
    NoEffectInQualityMode,   // name; other: the quality switch
    NoEffectWithoutAmplify,  // name; other: the amplify switch
    NoEffectUnlessTagType,   // name; other: the tag type option
};
struct SettingProblem {
    SettingIssue issue = SettingIssue::None;
    std::string name;
    std::string value;
    std::string other;
    std::shared_ptr<const SettingProblem> cause;
};

// Reads every stored value over the defaults and applies the load checks.
// Values of the wrong type or out of range keep the default; warnings, when given, receives each of them.
void LoadSettings(ConvertSettings& settings, const RegistryStore& store,
                  std::vector<SettingProblem>* warnings = nullptr);
// Writes the chosen groups into the store (the caller commits it).
void SaveSettings(const ConvertSettings& settings, int groups, RegistryStore& store);

// Sets one option by its stored name ("MP3BitRate", "MP3Tag.Artist", any letter case) from text: a number in
// the option's range or one of its names ("skip"). False with a reason (and a near name when there is one).
bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value,
                      SettingProblem& problem);

// Sets a control of the chosen output format and turns its automatic mode off; false with the reason when the
// format has no such control or the value is out of range.
bool ApplyFormatControl(ConvertSettings& settings, FormatControl control, int32_t value, SettingProblem& problem);
// Sets one tag field (title, artist, album, year, genre, comment, track, composer, copyright) of the chosen
// format on top of the source's tags (tag type "merge"); false with the reason when the format holds no tags.
bool ApplyTagOverride(ConvertSettings& settings, std::string_view field, std::string_view value,
                      SettingProblem& problem);

// Warnings for the options named (as given to -s) that the other settings make ineffective, each saying what
// to use instead.
std::vector<SettingProblem> IneffectiveSettings(const ConvertSettings& settings, const std::vector<std::string>& names);

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
