#include "formats/SettingsTable.h"

#include <algorithm>

#include "media/TagRecord.h"
#include "platform/registry.h"

namespace pelloran {

namespace {

struct TagGroup {
    std::string prefix;  // "MP3": [Options/MP3Tag], -s MP3Tag.Artist
    TagsRef tags;
};

// The general rows, then each format's options once (formats sharing options list them once).
struct Table {
    std::vector<int32_t> formatCodes;
    std::vector<CodeName> formatNames;
    std::vector<NumberRow> numbers;
    std::vector<TextRow> texts;
    std::vector<TagGroup> tagGroups;
    std::vector<const FormatOptions*> options;
};

const Table& TheTable() {
    static const Table table = [] {
        Table t;
        for (const OutputFormatDescriptor* format : OutputFormatList()) {
            t.formatCodes.push_back(format->code);
            t.formatNames.push_back({format->name, format->code});
            if (format->options != nullptr &&
                std::find(t.options.begin(), t.options.end(), format->options) == t.options.end())
                t.options.push_back(format->options);
        }
        for (NumberRow row : GeneralNumberRows()) {
            // The OutputFormat option takes each format's code or name.
            if (std::string_view(row.name) == "OutputFormat") {
                row.range = Range{0, 0, t.formatCodes.data(), t.formatCodes.size()};
                row.names = CodeNames{t.formatNames.data(), t.formatNames.size()};
            }
            t.numbers.push_back(row);
        }
        t.texts = GeneralTextRows();
        for (const FormatOptions* options : t.options) {
            t.numbers.insert(t.numbers.end(), options->numbers.begin(), options->numbers.end());
            t.texts.insert(t.texts.end(), options->texts.begin(), options->texts.end());
            if (options->tagGroup != nullptr && options->tags != nullptr)
                t.tagGroups.push_back({options->tagGroup, options->tags});
        }
        return t;
    }();
    return table;
}

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoreCase(a, b); }

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

const NumberRow* FindNumber(std::string_view name) {
    for (const NumberRow& row : TheTable().numbers) {
        if (SameName(name, row.name)) return &row;
    }
    return nullptr;
}

std::string TagKey(const std::string& prefix) { return std::string(kOptionsKey) + "\\" + prefix + "Tag"; }

void LoadTagSettings(TagSettings& tags, const RegistryStore& store, const std::string& key) {
    if (!store.KeyExists(key)) return;
    for (const auto& f : kTagTextRows) tags.*f.member = store.ReadText(key, f.name).value_or(std::string{});
    for (const auto& f : kTagNumberRows) {
        if (auto v = store.ReadNumber(key, f.name); v && f.range.Contains(*v)) tags.*f.member = *v;
    }
}

// Edit distance of two names ignoring case, for "did you mean".
size_t Distance(std::string_view a, std::string_view b) {
    const std::string x = ToLowerAscii(a), y = ToLowerAscii(b);
    std::vector<size_t> row(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// Every name -s takes: the options, then the tag fields of each format.
std::vector<std::string> AllNames() {
    std::vector<std::string> names;
    for (const auto& f : TheTable().numbers) names.emplace_back(f.name);
    for (const auto& f : TheTable().texts) names.emplace_back(f.name);
    for (const auto& g : TheTable().tagGroups) {
        for (const auto& f : kTagTextRows) names.push_back(g.prefix + "Tag." + f.name);
        for (const auto& f : kTagNumberRows) names.push_back(g.prefix + "Tag." + f.name);
    }
    return names;
}

SettingProblem UnknownName(std::string_view name) {
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const auto& candidate : AllNames()) {
        const size_t d = Distance(name, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    const bool near = bestDistance <= std::max<size_t>(2, name.size() / 3);
    return {SettingIssue::UnknownName, std::string(name), {}, near ? best : std::string{}, nullptr};
}

// A number or one of the field's names; refused with the reason otherwise.
bool SetNumber(int32_t& member, const Range& range, const CodeNames& names, std::string_view name,
               std::string_view value, SettingProblem& problem) {
    int32_t v = 0;
    bool named = false;
    for (size_t i = 0; i < names.count && !named; ++i) {
        if (SameName(value, names.names[i].name)) {
            v = names.names[i].value;
            named = true;
        }
    }
    if (!named && !ParseNumber(value, v)) {
        problem = {SettingIssue::NeedsNumber, std::string(name), std::string(value),
                   names.count > 0 ? NamesText(names) : std::string{}, nullptr};
        return false;
    }
    if (!range.Contains(v)) {
        problem = {SettingIssue::OutOfRange, std::string(name), std::string(value), range.Text(), nullptr};
        return false;
    }
    member = v;
    return true;
}

const FormatOptions* OptionsOf(int32_t format) {
    const OutputFormatDescriptor* descriptor = FindOutputFormat(format);
    return descriptor == nullptr ? nullptr : descriptor->options;
}

// The format options that include name, or null for options of no format.
const FormatOptions* OwnerOf(std::string_view name) {
    for (const FormatOptions* options : TheTable().options) {
        for (const NumberRow& row : options->numbers) {
            if (SameName(name, row.name)) return options;
        }
        for (const TextRow& row : options->texts) {
            if (SameName(name, row.name)) return options;
        }
        if (options->tagGroup != nullptr && StartsWithIgnoreCase(name, std::string(options->tagGroup) + "Tag."))
            return options;
    }
    return nullptr;
}

}  // namespace

int32_t NumberSetting(const ConvertSettings& settings, std::string_view name) {
    const NumberRow* row = FindNumber(name);
    return row == nullptr ? 0 : row->ref(const_cast<ConvertSettings&>(settings));
}

void LoadSettings(ConvertSettings& settings, const RegistryStore& store, std::vector<SettingProblem>* warnings) {
    if (!store.KeyExists(kOptionsKey)) return;
    const auto warn = [warnings](SettingIssue issue, const char* name, std::string value = {}, std::string other = {}) {
        if (warnings != nullptr) warnings->push_back({issue, name, std::move(value), std::move(other), nullptr});
    };
    for (const auto& f : TheTable().texts) {
        if (auto v = store.ReadText(kOptionsKey, f.name)) f.ref(settings) = *v;
        else if (store.HasValue(kOptionsKey, f.name)) warn(SettingIssue::StoredNumberForText, f.name);
    }
    // Out of range after the load check: the default stays.
    for (const auto& f : TheTable().numbers) {
        const auto v = store.ReadNumber(kOptionsKey, f.name);
        if (v && f.range.Contains(f.check(*v))) {
            f.ref(settings) = f.check(*v);
        } else if (v) {
            warn(SettingIssue::StoredOutOfRange, f.name, std::to_string(*v), f.range.Text());
        } else if (store.HasValue(kOptionsKey, f.name)) {
            warn(SettingIssue::StoredTextForNumber, f.name);
        }
    }
    RebuildExtensionFilter(settings);
    for (const auto& g : TheTable().tagGroups) LoadTagSettings(g.tags(settings), store, TagKey(g.prefix));
}

void SaveSettings(const ConvertSettings& constSettings, int groups, RegistryStore& store) {
    if (groups == 0) return;
    // The rows reach values through references; nothing is changed.
    ConvertSettings& settings = const_cast<ConvertSettings&>(constSettings);
    store.CreateKey(kOptionsKey);
    for (const auto& f : TheTable().texts) {
        if (groups & f.group) store.WriteText(kOptionsKey, f.name, f.ref(settings));
    }
    for (const auto& f : TheTable().numbers) {
        if (groups & f.group) store.WriteNumber(kOptionsKey, f.name, f.ref(settings));
    }
    if (groups & kSaveOptionsGroup) {
        for (const auto& g : TheTable().tagGroups) {
            const std::string key = TagKey(g.prefix);
            const TagSettings& tags = g.tags(settings);
            store.CreateKey(key);
            for (const auto& f : kTagTextRows) store.WriteText(key, f.name, tags.*f.member);
            for (const auto& f : kTagNumberRows) store.WriteNumber(key, f.name, tags.*f.member);
        }
    }
}

bool SetSettingByName(ConvertSettings& settings, std::string_view name, std::string_view value,
                      SettingProblem& problem) {
    const size_t dot = name.find('.');
    if (dot != std::string_view::npos) {
        const std::string_view group = name.substr(0, dot);
        const std::string_view field = name.substr(dot + 1);
        for (const auto& g : TheTable().tagGroups) {
            if (!SameName(group, g.prefix + "Tag")) continue;
            TagSettings& tags = g.tags(settings);
            for (const auto& f : kTagTextRows) {
                if (SameName(field, f.name)) {
                    tags.*f.member = std::string(value);
                    return true;
                }
            }
            for (const auto& f : kTagNumberRows) {
                if (SameName(field, f.name)) return SetNumber(tags.*f.member, f.range, kNoNames, name, value, problem);
            }
        }
        problem = UnknownName(name);
        return false;
    }
    for (const auto& f : TheTable().texts) {
        if (SameName(name, f.name)) {
            f.ref(settings) = std::string(value);
            RebuildExtensionFilter(settings);
            return true;
        }
    }
    if (const NumberRow* f = FindNumber(name)) {
        if (!SetNumber(f->ref(settings), f->range, f->names, f->name, value, problem)) return false;
        RebuildExtensionFilter(settings);
        return true;
    }
    problem = UnknownName(name);
    return false;
}

bool ApplyFormatControl(ConvertSettings& settings, FormatControl control, int32_t value, SettingProblem& problem) {
    static const char* const kOption[] = {"--bitrate", "--rate", "--channels", "--quality"};
    const char* option = kOption[static_cast<int>(control)];
    const FormatOptions* options = OptionsOf(settings.OutputFormat);
    const char* field = "";
    if (options != nullptr) {
        const FormatControls& c = options->controls;
        switch (control) {
            case FormatControl::BitRate: field = c.bitrate; break;
            case FormatControl::Rate: field = c.rate; break;
            case FormatControl::Channels: field = c.channels; break;
            case FormatControl::Quality: field = c.quality; break;
        }
    }
    if (options == nullptr || *field == '\0') {
        problem = {SettingIssue::ControlNotApplicable, option, {}, ToLowerAscii(OutputFormatName(settings.OutputFormat)),
                   nullptr};
        return false;
    }
    const FormatControls& c = options->controls;
    int64_t stored = value;
    if (control == FormatControl::BitRate) stored *= c.bitrateScale;
    if (control == FormatControl::Channels) stored = value == 1 ? c.mono : c.stereo;
    SettingProblem reason;
    if (stored > INT32_MAX || !SetSettingByName(settings, field, std::to_string(stored), reason)) {
        problem = {SettingIssue::ControlRefused, option, std::to_string(value), {},
                   std::make_shared<const SettingProblem>(reason)};
        return false;
    }
    if (*c.automatic != '\0' && (c.keepsAuto & Keeps(control)) == 0) SetSettingByName(settings, c.automatic, "0", reason);
    // --quality chooses the quality mode; -b leaves it for a bit-rate mode (any, MP3's ABR included).
    if (*c.qualitySwitch != '\0' && control == FormatControl::Quality)
        SetSettingByName(settings, c.qualitySwitch, "1", reason);
    if (*c.qualitySwitch != '\0' && control == FormatControl::BitRate && NumberSetting(settings, c.qualitySwitch) == 1)
        SetSettingByName(settings, c.qualitySwitch, "0", reason);
    return true;
}

bool ApplyTagOverride(ConvertSettings& settings, std::string_view field, std::string_view value,
                      SettingProblem& problem) {
    const FormatOptions* options = OptionsOf(settings.OutputFormat);
    if (options == nullptr || *options->controls.tagType == '\0' || options->tagGroup == nullptr) {
        problem = {SettingIssue::NoTags, {}, {}, ToLowerAscii(OutputFormatName(settings.OutputFormat)), nullptr};
        return false;
    }
    const std::string group = std::string(options->tagGroup) + "Tag.";
    SettingProblem reason;
    if (SameName(field, "track")) {
        if (!SetSettingByName(settings, group + "CustomTrackNum", value, reason)) {
            problem = {SettingIssue::TagTrackRefused, {}, {}, {}, std::make_shared<const SettingProblem>(reason)};
            return false;
        }
        SetSettingByName(settings, group + "TrackNumType", "2", reason);
    } else {
        bool known = false;
        for (const auto& f : kTagTextRows) known = known || SameName(field, f.name);
        if (!known) {
            problem = {SettingIssue::UnknownTagField, {}, std::string(field), {}, nullptr};
            return false;
        }
        SetSettingByName(settings, group + std::string(field), value, reason);
        if (SameName(field, "title")) SetSettingByName(settings, group + "TitleAsFileName", "0", reason);
    }
    return SetSettingByName(settings, options->controls.tagType, "merge", problem);
}

std::vector<SettingProblem> IneffectiveSettings(const ConvertSettings& settings, const std::vector<std::string>& names) {
    std::vector<SettingProblem> warnings;
    const auto warn = [&warnings](SettingIssue issue, const std::string& name, std::string other, std::string value = {}) {
        warnings.push_back({issue, name, std::move(value), std::move(other), nullptr});
    };
    const FormatOptions* chosen = OptionsOf(settings.OutputFormat);
    const std::string format = ToLowerAscii(OutputFormatName(settings.OutputFormat));
    const auto number = [&](const char* name) { return NumberSetting(settings, name); };
    for (const std::string& name : names) {
        const FormatOptions* owner = OwnerOf(name);
        if (owner == nullptr) continue;
        if (owner != chosen) {
            warn(SettingIssue::NoEffectOnFormat, name, format);
            continue;
        }
        const FormatControls& c = owner->controls;
        const auto is = [&](const char* field) { return *field != '\0' && SameName(name, field); };
        const auto decides = [&](const char* field, FormatControl control) {
            return is(field) && (c.keepsAuto & Keeps(control)) == 0;
        };
        const bool control = decides(c.bitrate, FormatControl::BitRate) || decides(c.rate, FormatControl::Rate) ||
                             decides(c.channels, FormatControl::Channels) ||
                             decides(c.quality, FormatControl::Quality);
        if (control && *c.automatic != '\0' && number(c.automatic) != 0) {
            warn(SettingIssue::NoEffectWhileAutomatic, name, c.automatic);
        } else if (*c.qualitySwitch != '\0' && is(c.quality) && number(c.qualitySwitch) != 1) {
            warn(SettingIssue::NoEffectOutsideQuality, name, c.qualitySwitch, std::to_string(number(c.qualitySwitch)));
        } else if (*c.qualitySwitch != '\0' && is(c.bitrate) && number(c.qualitySwitch) == 1) {
            warn(SettingIssue::NoEffectInQualityMode, name, c.qualitySwitch);
        } else if (is(c.gain) && number(c.amplify) == 0) {
            warn(SettingIssue::NoEffectWithoutAmplify, name, c.amplify);
        } else if (*c.tagType != '\0' && name.find('.') != std::string::npos && number(c.tagType) != 0 &&
                   number(c.tagType) != 3) {
            warn(SettingIssue::NoEffectUnlessTagType, name, c.tagType);
        }
    }
    return warnings;
}

std::vector<SettingInfo> DescribeSettings(const ConvertSettings& currentSettings) {
    ConvertSettings defaults;
    ConvertSettings& current = const_cast<ConvertSettings&>(currentSettings);
    std::vector<SettingInfo> list;
    for (const auto& f : TheTable().numbers) {
        std::string range = f.range.Text();
        if (f.names.count > 0) range += " (" + NamesText(f.names) + ")";
        list.push_back({f.name, "number", range, std::to_string(f.ref(defaults)), std::to_string(f.ref(current)),
                        f.meaning});
    }
    for (const auto& f : TheTable().texts) list.push_back({f.name, "text", "", f.ref(defaults), f.ref(current), f.meaning});
    for (const auto& g : TheTable().tagGroups) {
        const std::string prefix = g.prefix + "Tag.";
        const std::string meaning = g.prefix + " custom tags: ";
        for (const auto& f : kTagTextRows) {
            list.push_back({prefix + f.name, "text", "", g.tags(defaults).*f.member, g.tags(current).*f.member,
                            meaning + f.name});
        }
        for (const auto& f : kTagNumberRows) {
            list.push_back({prefix + f.name, "number", f.range.Text(), std::to_string(g.tags(defaults).*f.member),
                            std::to_string(g.tags(current).*f.member), meaning + f.name});
        }
    }
    return list;
}

}  // namespace pelloran
