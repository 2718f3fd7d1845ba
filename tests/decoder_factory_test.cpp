#include <gtest/gtest.h>

#include "decode/DecoderFactory.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::TempDir;

TEST(InputFormatTable, ExtensionOfTheFileNameOnly) {
    EXPECT_EQ(InputFormatFromPath("/m/Song.MP3"), 1000);
    EXPECT_EQ(InputFormatFromPath("/m/a.b.wav"), 2000);
    EXPECT_EQ(InputFormatFromPath("/m/dir.wav/track"), 9000);
    EXPECT_EQ(InputFormatFromPath("/m/x.KAR"), 3050);
    EXPECT_EQ(InputFormatFromPath("/m/x.mp+"), 3700);
    EXPECT_EQ(InputFormatFromPath("/m/x.m4b"), 6500);
    EXPECT_EQ(InputFormatFromPath("/m/x.xwmv"), 7000);
    EXPECT_EQ(InputFormatFromPath("/m/x.dat"), 9000);
    EXPECT_EQ(InputFormatFromPath("/m/x."), 9000);
    EXPECT_EQ(PathExtension("/a.b/c"), "");
}

TEST(ReaderNames, RoundTrip) {
    for (const char* name : {"general", "wav", "aiff", "au", "ffmpeg", "vorbis", "wma"}) {
        const auto kind = ReaderFromName(name);
        ASSERT_TRUE(kind.has_value()) << name;
        EXPECT_STREQ(ReaderName(*kind), name);
    }
    // The general reader's earlier name still works, and is never shown.
    EXPECT_EQ(ReaderFromName("BASS"), ReaderFromName("general"));
    EXPECT_EQ(ReaderNames(), (std::vector<std::string>{"general", "wav", "aiff", "au", "ffmpeg", "vorbis", "wma"}));
    EXPECT_FALSE(ReaderFromName("lame").has_value());
}

// Which reader opens a file made by an independent tool.
std::string OpenedBy(const std::string& path, bool forConversion, std::optional<ReaderKind> preferred = {}) {
    DecoderContext context;
    context.preferred = preferred;
    auto decoder = CreateDecoder(path, InputFormatFromPath(path), 0, forConversion, context);
    if (!decoder) return forConversion ? "none: " + context.failureNote : "none";
    return ReaderName(*context.openedBy);
}

class FallbackOrder : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg makes the inputs";
    }
    std::string Make(const std::string& name, const std::vector<std::string>& codec) {
        const std::string path = dir_ / name;
        std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.5"};
        argv.insert(argv.end(), codec.begin(), codec.end());
        argv.push_back(path);
        EXPECT_EQ(test::Run(argv).exitCode, 0) << name;
        return path;
    }
    TempDir dir_;
};

TEST_F(FallbackOrder, FirstReadersAndTheirFallbacks) {
    EXPECT_EQ(OpenedBy(Make("a.wav", {}), true), "general");
    EXPECT_EQ(OpenedBy(Make("a.aiff", {}), true), "aiff");
    EXPECT_EQ(OpenedBy(Make("a.au", {}), true), "au");
    EXPECT_EQ(OpenedBy(Make("a.ogg", {"-c:a", "libvorbis"}), true), "vorbis");
    // Opus in Ogg: the Vorbis reader and the BASS layer refuse it, FFmpeg takes it.
    EXPECT_EQ(OpenedBy(Make("b.ogg", {"-c:a", "libopus"}), true), "ffmpeg");
    // An unknown extension goes to FFmpeg alone.
    EXPECT_EQ(OpenedBy(Make("a.mka", {"-c:a", "flac"}), true), "ffmpeg");
    // A preferred reader is tried first, then the usual order.
    EXPECT_EQ(OpenedBy(dir_ / "a.wav", true, ReaderKind::Wav), "wav");
    EXPECT_EQ(OpenedBy(dir_ / "a.wav", true, ReaderKind::Au), "general");
}

TEST_F(FallbackOrder, ProbeOpensVideoWithoutAudioWhileConversionRefusesIt) {
    const std::string video = dir_ / "v.mkv";
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=d=0.5:s=64x48", "-c:v", "ffv1",
                         video})
                  .exitCode,
              0);
    EXPECT_EQ(OpenedBy(video, false), "ffmpeg");
    const std::string refused = OpenedBy(video, true);
    EXPECT_EQ(refused.rfind("none: No reader could open this file (", 0), 0u) << refused;
    EXPECT_NE(refused.find("ffmpeg: "), std::string::npos) << refused;
    EXPECT_NE(refused.find("support@pelloran.org"), std::string::npos) << refused;
}

TEST_F(FallbackOrder, GarbageSaysWhichReadersRefusedIt) {
    const std::string junk = dir_ / "junk.au";
    test::WriteBytes(junk, std::vector<uint8_t>(4096, 0x2E));
    EXPECT_EQ(OpenedBy(junk, false), "none");
    const std::string refused = OpenedBy(junk, true);
    EXPECT_EQ(refused.rfind("none: No reader could open this file (", 0), 0u) << refused;
    EXPECT_NE(refused.find("au"), std::string::npos) << refused;
    EXPECT_NE(refused.find("support@pelloran.org"), std::string::npos) << refused;
}

}  // namespace
}  // namespace pelloran
