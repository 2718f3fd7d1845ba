// A format added in the test tree through one descriptor and its writer (tests/extra) reaches every list
// and rule: -f, --list-formats, the settings table and its controls, conversion and verification.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

using Json = nlohmann::json;
// The scratch fixture, running pelloran-cli-extra.
class ExtraFormat : public Hostile {
protected:
    CommandResult Extra(std::vector<std::string> args) const {
        std::vector<std::string> argv = {PELLORAN_EXTRA_CLI, "-q", "--settings", settingsFile_};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::Run(argv, Env());
    }
};

Json LineNamed(const std::string& text, const std::string& name) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const Json j = Json::parse(line, nullptr, false);
        if (j.is_object() && j.value("name", "") == name) return j;
    }
    return {};
}

TEST_F(ExtraFormat, OneDescriptorAndAWriterReachEveryList) {
    const Json format = LineNamed(Extra({"--list-formats", "--json"}).out, "tst");
    ASSERT_FALSE(format.is_null());
    EXPECT_EQ(format["extensions"], Json::array({"tst"}));
    EXPECT_EQ(format["lossless"], true);

    const Json setting = LineNamed(Extra({"--list-settings", "--json"}).out, "TSTLevel");
    ASSERT_FALSE(setting.is_null());
    EXPECT_EQ(setting["range"], "0 to 9");
    EXPECT_EQ(setting["default"], "5");
    EXPECT_EQ(LineNamed(Extra({"--list-settings", "--json", "-s", "OutputFormat=tst"}).out, "OutputFormat")["value"],
              "9100");

    const auto refused = Extra({"-f", "tst", "-s", "TSTLevel=12", "-n", "x.wav"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("'TSTLevel' must be 0 to 9"), std::string::npos) << refused.err;

    // --quality is the descriptor's control; the writer stores what reached it, the verifier reads the output
    // back as the descriptor says.
    const std::string src = Sine("song.wav", 44100, 2, 1.5);
    const auto run = Extra({"-f", "tst", "--quality", "7", "--verify", "--json", "-o", dir_ / "out", src});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json record = Json::parse(run.out.substr(0, run.out.find('\n')));
    EXPECT_EQ(record["verified"], true);
    EXPECT_EQ(record["frames_output"], record["frames_source"]);
    const std::vector<uint8_t> bytes = ReadBytes(dir_ / "out/song.tst");
    ASSERT_GT(bytes.size(), 32u);
    EXPECT_EQ(std::string(bytes.begin() + 24, bytes.begin() + 31), "level=7");
    if (HaveTool("soxi")) {
        std::filesystem::copy_file(dir_ / "out/song.tst", dir_ / "song.au");
        EXPECT_EQ(test::Run({"soxi", "-s", dir_ / "song.au"}).out, "66150\n");
    }
}

}  // namespace
}  // namespace pelloran::test
