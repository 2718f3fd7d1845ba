#pragma once
// The rows of the settings table: each option's stored name, where its value lives, its range, the names its
// codes may be given by, its save group and its meaning. General options are listed in settings/; each output
// format lists its own in its descriptor (formats/).

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/ConvertSettings.h"

namespace pelloran {

// The values a numeric option may hold: a span, or a list of codes.
struct Range {
    int32_t min = INT32_MIN;
    int32_t max = INT32_MAX;
    const int32_t* codes = nullptr;
    size_t codeCount = 0;

    bool Contains(int32_t v) const {
        if (codes == nullptr) return v >= min && v <= max;
        return std::find(codes, codes + codeCount, v) != codes + codeCount;
    }
    std::string Text() const;
};

constexpr Range Span(int32_t min, int32_t max) { return Range{min, max, nullptr, 0}; }
template <size_t N>
constexpr Range Codes(const int32_t (&codes)[N]) {
    return Range{0, 0, codes, N};
}

// Names a stored code may be given by (-s TargetExistsOpt=skip).
struct CodeName {
    const char* name;
    int32_t value;
};
struct CodeNames {
    const CodeName* names = nullptr;
    size_t count = 0;
};
template <size_t N>
constexpr CodeNames Named(const CodeName (&names)[N]) {
    return CodeNames{names, N};
}

// Where an option's value lives.
using NumberRef = int32_t& (*)(ConvertSettings&);
using TextRef = std::string& (*)(ConvertSettings&);
using TagsRef = TagSettings& (*)(ConvertSettings&);
template <auto Member>
int32_t& Field(ConvertSettings& settings) {
    return settings.*Member;
}
template <auto Member>
std::string& TextField(ConvertSettings& settings) {
    return settings.*Member;
}
// A member of a format's record: In<&ConvertSettings::mp3, &Mp3Settings::bitRate>.
template <auto Record, auto Member>
int32_t& In(ConvertSettings& settings) {
    return (settings.*Record).*Member;
}
template <auto Record>
TagSettings& TagsOf(ConvertSettings& settings) {
    return (settings.*Record).tags;
}

struct NumberRow {
    const char* name;
    NumberRef ref;
    int group;                   // SettingsGroup it is saved with
    int32_t (*check)(int32_t);   // applied to a loaded value before its range is checked
    Range range;
    CodeNames names;
    const char* meaning;
};

struct TextRow {
    const char* name;
    TextRef ref;
    int group;
    const char* meaning;
};

// Load checks.
inline int32_t CheckNone(int32_t v) { return v; }
inline int32_t CheckCoeff(int32_t v) { return std::clamp(v, 10, 3000); }
inline int32_t CheckZeroOneTwo(int32_t v) { return (v == 0 || v == 1 || v == 2) ? v : 2; }
// Tag types: 3 (merge) is kept; other values beyond 0..2 mean no tags.
inline int32_t CheckTagType(int32_t v) { return (v >= 0 && v <= 3) ? v : 2; }

inline constexpr Range kSwitch = Span(0, 1);
inline constexpr Range kTagType = Span(0, 3);  // 3: the source's tags with the custom fields on top
inline constexpr Range kGain = Span(10, 3000);
inline constexpr Range kFreeGain = Span(1, 100000);  // not clamped on load, but never zero or negative
inline constexpr Range kRate = Span(0, 384000);      // Hz; 0 follows the source

inline constexpr CodeName kSwitchList[] = {{"off", 0}, {"on", 1}, {"no", 0}, {"yes", 1}, {"false", 0}, {"true", 1}};
inline constexpr CodeName kTagTypeList[] = {{"custom", 0}, {"source", 1}, {"none", 2}, {"merge", 3}};
inline constexpr CodeName kSourceList[] = {{"source", 0}};
inline constexpr CodeNames kNoNames{};
inline constexpr CodeNames kSwitchNames = Named(kSwitchList);
inline constexpr CodeNames kTagTypeNames = Named(kTagTypeList);
inline constexpr CodeNames kSourceNames = Named(kSourceList);

// "a|b|c" of the names (a switch's first pair only).
std::string NamesText(const CodeNames& names);

// The general options (not of one output format), in load order; OutputFormat's range and names are empty here
// and filled from the output formats by the table.
const std::vector<NumberRow>& GeneralNumberRows();
const std::vector<TextRow>& GeneralTextRows();

// The fields of a format's custom tags ([Options/MP3Tag] Artist=...).
struct TagTextRow {
    const char* name;
    std::string TagSettings::*member;
};
struct TagNumberRow {
    const char* name;
    int32_t TagSettings::*member;
    Range range;
};
extern const std::vector<TagTextRow> kTagTextRows;
extern const std::vector<TagNumberRow> kTagNumberRows;

// A whole decimal number in int32 range, nothing else.
bool ParseNumber(std::string_view text, int32_t& value);

}  // namespace pelloran
