// The output formats as one table: --list-formats, the names -f and -s OutputFormat= take, and the files the
// build makes from the table (completions, man pages, desktop entry, AppStream record).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "formats/SettingsTable.h"
#include "frontend/Wording.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::CommandResult;
using test::TempDir;

const std::string kBuild = PELLORAN_BINARY_DIR;

// What --list-formats must print for a name: the facts of its rows, the label of its last row.
struct Expected {
    std::string name;
    std::vector<std::string> extensions;
    bool lossless = false;
    int maxChannels = 0;
    bool tags = false;
    std::string label;
};

std::vector<Expected> TableFormats() {
    std::vector<Expected> formats;
    const std::vector<FormatListRow> rows = FormatListRows();
    for (const OutputFormatDescriptor* format : OutputFormatList()) {
        formats.push_back({format->name, {format->extension}, format->lossless, format->maxChannels, format->tags, {}});
        for (const FormatListRow& row : rows) {
            if (row.code == format->code) formats.back().label = row.label;
        }
    }
    return formats;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// True when word stands in text as a word of its own, in any letter case.
bool NamesWord(const std::string& text, const std::string& word) {
    const std::string t = Lower(text), w = Lower(word);
    for (size_t at = t.find(w); at != std::string::npos; at = t.find(w, at + 1)) {
        const bool before = at == 0 || !std::isalnum(static_cast<unsigned char>(t[at - 1]));
        const size_t end = at + w.size();
        const bool after = end == t.size() || !std::isalnum(static_cast<unsigned char>(t[end]));
        if (before && after) return true;
    }
    return false;
}

std::string ReadText(const std::string& path) {
    const auto bytes = test::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The text between the first from and the next to after it; "" when from is missing.
std::string Between(const std::string& text, const std::string& from, const std::string& to) {
    const size_t start = text.find(from);
    if (start == std::string::npos) return {};
    const size_t end = text.find(to, start + from.size());
    return text.substr(start + from.size(), end == std::string::npos ? std::string::npos : end - start - from.size());
}

// A section of a rendered man page: from its heading to the next heading.
std::string Section(const std::string& page, const std::string& heading) {
    const size_t start = page.find("\n" + heading + "\n");
    if (start == std::string::npos) return {};
    size_t end = start + 1;
    do {
        end = page.find('\n', end + 1);
    } while (end != std::string::npos && end + 1 < page.size() && !std::isupper(static_cast<unsigned char>(page[end + 1])));
    return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// pelloran-cli with an empty settings file of its own.
class FormatList : public ::testing::Test {
protected:
    CommandResult Cli(std::vector<std::string> args) {
        std::vector<std::string> argv = {test::CliPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, {"HOME=" + dir_.path().string(), "XDG_CONFIG_HOME=" + (dir_ / "config")});
    }
    TempDir dir_;
};

TEST_F(FormatList, ListsExactlyTheTablesFormatsAsTextAndJson) {
    const std::vector<Expected> table = TableFormats();
    const CommandResult text = Cli({"--list-formats"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.err, "");
    const CommandResult json = Cli({"--list-formats", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto textLines = Lines(text.out);
    const auto jsonLines = Lines(json.out);
    ASSERT_EQ(textLines.size(), table.size()) << text.out;
    ASSERT_EQ(jsonLines.size(), table.size()) << json.out;
    const auto yesNo = [](bool b) { return std::string(b ? "yes" : "no"); };
    for (size_t i = 0; i < table.size(); ++i) {
        const Expected& f = table[i];
        std::string extensions;
        for (const auto& e : f.extensions) extensions += (extensions.empty() ? "" : ",") + e;
        EXPECT_EQ(textLines[i], f.name + "\t" + extensions + "\t" + yesNo(f.lossless) + "\t" +
                                    std::to_string(f.maxChannels) + "\t" + yesNo(f.tags) + "\t" + f.label);
        const auto j = nlohmann::json::parse(jsonLines[i]);
        EXPECT_EQ(j.size(), 6u) << jsonLines[i];
        EXPECT_EQ(j.at("name"), f.name);
        EXPECT_EQ(j.at("extensions"), f.extensions);
        EXPECT_EQ(j.at("lossless"), f.lossless);
        EXPECT_EQ(j.at("max_channels"), f.maxChannels);
        EXPECT_EQ(j.at("tags"), f.tags);
        EXPECT_EQ(j.at("label"), f.label);
    }
    // Needs no settings: a broken settings file gives no warning.
    test::WriteBytes(dir_ / "broken.conf", {'[', 'O', '\n', 'x', '\n'});
    const CommandResult broken = Cli({"--settings", dir_ / "broken.conf", "--list-formats"});
    EXPECT_EQ(broken.exitCode, 0);
    EXPECT_EQ(broken.out, text.out);
    EXPECT_EQ(broken.err, "");
}

TEST_F(FormatList, FactsAUserReliesOn) {
    // name, extensions, lossless, channels, tags, label
    const Expected pinned[] = {
        {"mp3", {"mp3"}, false, 2, true, "MP3"},
        {"wav", {"wav"}, true, 8, true, "WAV"},
        {"m4a", {"m4a"}, false, 6, true, "M4A (MPEG-4 Audio)"},
        {"amr", {"amr"}, false, 1, false, "AMR"},
        {"flac", {"flac"}, true, 8, true, "FLAC"},
        {"opus", {"opus"}, false, 8, true, "Opus"},
        {"alac", {"m4a"}, true, 8, true, "ALAC (Apple Lossless)"},
    };
    const std::vector<Expected> table = TableFormats();
    for (const Expected& p : pinned) {
        const auto it = std::find_if(table.begin(), table.end(), [&](const auto& f) { return f.name == p.name; });
        ASSERT_NE(it, table.end()) << p.name;
        EXPECT_EQ(it->extensions, p.extensions) << p.name;
        EXPECT_EQ(it->lossless, p.lossless) << p.name;
        EXPECT_EQ(it->maxChannels, p.maxChannels) << p.name;
        EXPECT_EQ(it->tags, p.tags) << p.name;
        EXPECT_EQ(it->label, p.label) << p.name;
    }
    // The tags fact is what --tag goes by.
    for (const Expected& f : table) {
        ConvertSettings settings;
        settings.OutputFormat = OutputFormatFromName(f.name);
        std::string error;
        EXPECT_EQ(ApplyTagOverride(settings, "artist", "Ana", error), f.tags) << f.name << ": " << error;
    }
}

TEST_F(FormatList, EveryNameIsTakenByDashFAndBySettingOutputFormat) {
    test::WriteBytes(dir_ / "empty.conf", {});
    for (const Expected& f : TableFormats()) {
        const std::string code = std::to_string(OutputFormatFromName(f.name));
        for (const std::vector<std::string>& choose :
             {std::vector<std::string>{"-f", f.name}, std::vector<std::string>{"-s", "OutputFormat=" + f.name}}) {
            std::vector<std::string> args = {"--settings", dir_ / "empty.conf", "--list-settings"};
            args.insert(args.end(), choose.begin(), choose.end());
            const CommandResult r = Cli(args);
            ASSERT_EQ(r.exitCode, 0) << choose[0] << " " << choose[1] << ": " << r.err;
            // NAME TYPE RANGE DEFAULT VALUE MEANING
            std::string value;
            for (const auto& line : Lines(r.out)) {
                if (line.rfind("OutputFormat\t", 0) == 0) value = Fields(line).at(4);
            }
            EXPECT_EQ(value, code) << choose[0] << " " << choose[1];
        }
    }
}

TEST_F(FormatList, GeneratedFilesNameEveryFormat) {
    const std::string manPage = kBuild + "/packaging/pelloran.1";
    const std::string cliManPage = kBuild + "/packaging/pelloran-cli.1";
    const std::string desktop = kBuild + "/packaging/org.pelloran.Pelloran.desktop";
    const std::string metainfo = kBuild + "/packaging/org.pelloran.Pelloran.metainfo.xml";
    // Rendered man pages when man is there, their source otherwise.
    const auto rendered = [](const std::string& page) {
        if (!test::HaveTool("man")) return ReadText(page);
        const CommandResult r = test::Run({"man", "-l", page}, {"MANWIDTH=200", "MANPAGER=cat", "PAGER=cat"});
        EXPECT_EQ(r.exitCode, 0) << page << ": " << r.err;
        return r.out;
    };
    if (!test::HaveTool("man")) std::cout << "man missing: the man pages are checked as written\n";
    const struct {
        std::string file;
        std::string text;  // the part that must name every format
    } files[] = {
        {"bash completion", ReadText(kBuild + "/completions/pelloran-cli.bash")},
        {"zsh completion", ReadText(kBuild + "/completions/_pelloran-cli")},
        {"fish completion", ReadText(kBuild + "/completions/pelloran-cli.fish")},
        {"pelloran.1", rendered(manPage)},
        {"pelloran-cli.1 FORMATS",
         test::HaveTool("man") ? Section(rendered(cliManPage), "FORMATS") : ReadText(cliManPage)},
        {"desktop Comment", Between(ReadText(desktop), "\nComment=", "\n")},
        {"desktop Keywords", Between(ReadText(desktop), "\nKeywords=", "\n")},
        {"AppStream description", Between(ReadText(metainfo), "<description>", "</description>")},
        {"AppStream keywords", Between(ReadText(metainfo), "<keywords>", "</keywords>")},
    };
    for (const auto& f : files) {
        ASSERT_FALSE(f.text.empty()) << f.file;
        EXPECT_EQ(f.text.find("@PELLORAN"), std::string::npos) << f.file;
        for (const Expected& format : TableFormats()) EXPECT_TRUE(NamesWord(f.text, format.name)) << f.file << ": " << format.name;
    }
    EXPECT_NE(rendered(cliManPage).find("--list-formats"), std::string::npos);
}

TEST_F(FormatList, BashCompletesFormatNamesAndOptions) {
    const std::string completion = kBuild + "/completions/pelloran-cli.bash";
    std::string all;
    for (const Expected& f : TableFormats()) all += f.name + "\n";
    const struct {
        std::string words;  // COMP_WORDS after the program, the last being completed
        std::string offered;
    } cases[] = {
        {"-f ''", all},
        {"--format f", "flac\n"},
        {"-f a", "aac\nalac\namr\nawb\n"},
        {"-f o", "ogg\nopus\n"},
        {"--list-f", "--list-formats\n"},
    };
    for (const auto& c : cases) {
        const std::string script = "source '" + completion + "'; COMP_WORDS=(pelloran-cli " + c.words +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pelloran_cli; "
                                   "printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
        const CommandResult r = test::Run({"bash", "--norc", "--noprofile", "-c", script});
        EXPECT_EQ(r.exitCode, 0) << c.words << ": " << r.err;
        std::vector<std::string> sorted = Lines(c.offered);
        std::sort(sorted.begin(), sorted.end());
        std::string expected;
        for (const auto& s : sorted) expected += s + "\n";
        EXPECT_EQ(r.out, expected) << c.words;
    }
}

TEST_F(FormatList, GeneratedFilesPassTheirCheckers) {
    const struct {
        const char* tool;
        std::vector<std::string> argv;
    } checks[] = {
        {"bash", {"bash", "-n", kBuild + "/completions/pelloran-cli.bash"}},
        {"zsh", {"zsh", "-n", kBuild + "/completions/_pelloran-cli"}},
        {"fish", {"fish", "--no-execute", kBuild + "/completions/pelloran-cli.fish"}},
        {"desktop-file-validate", {"desktop-file-validate", kBuild + "/packaging/org.pelloran.Pelloran.desktop"}},
        {"appstreamcli",
         {"appstreamcli", "validate", "--no-net", kBuild + "/packaging/org.pelloran.Pelloran.metainfo.xml"}},
        {"groff", {"groff", "-man", "-ww", "-z", kBuild + "/packaging/pelloran.1"}},
        {"groff", {"groff", "-man", "-ww", "-z", kBuild + "/packaging/pelloran-cli.1"}},
    };
    for (const auto& c : checks) {
        if (!test::HaveTool(c.tool)) {
            std::cout << c.tool << " missing: " << c.argv.back() << " not checked\n";
            continue;
        }
        const CommandResult r = test::Run(c.argv);
        EXPECT_EQ(r.exitCode, 0) << c.argv.back() << ": " << r.out << r.err;
        if (std::string(c.tool) != "appstreamcli") {
            EXPECT_EQ(r.out + r.err, "") << c.argv.back();
        }
    }
}

}  // namespace
}  // namespace pelloran
