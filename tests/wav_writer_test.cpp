#include <gtest/gtest.h>

#include "encode/WavWriter.h"
#include "tests/support/TestSupport.h"

namespace pelloran {
namespace {

using test::ReadBytes;
using test::TempDir;

uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return LoadU32LE(b.data() + at); }
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return LoadU16LE(b.data() + at); }

TEST(WavWriter, EmptyFileHasCanonicalHeader) {
    TempDir dir;
    const std::string path = dir / "empty.wav";
    WavWriter w;
    ASSERT_TRUE(w.Open(path, {44100, 2, 16}, {}));
    ASSERT_TRUE(w.Finish());
    const auto b = ReadBytes(path);
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(U32(b, 4), 36u);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32(b, 16), 16u);
    EXPECT_EQ(U16(b, 20), 1u);
    EXPECT_EQ(U16(b, 22), 2u);
    EXPECT_EQ(U32(b, 24), 44100u);
    EXPECT_EQ(U32(b, 28), 176400u);
    EXPECT_EQ(U16(b, 32), 4u);
    EXPECT_EQ(U16(b, 34), 16u);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(U32(b, 40), 0u);
}

TEST(WavWriter, InterleavesAndPatchesSizes) {
    TempDir dir;
    const std::string path = dir / "s8.wav";
    WavWriter w;
    ASSERT_TRUE(w.Open(path, {8000, 2, 8}, {}));
    const uint8_t l[3] = {10, 11, 12};
    const uint8_t r[3] = {20, 21, 22};
    ASSERT_TRUE(test::WriteEight(w, l, r, 3));
    ASSERT_TRUE(test::WriteEight(w, l, r, 1));
    ASSERT_TRUE(w.Finish());
    const auto b = ReadBytes(path);
    ASSERT_EQ(b.size(), 52u);
    EXPECT_EQ(U32(b, 4), 44u);
    EXPECT_EQ(U32(b, 40), 8u);
    const std::vector<uint8_t> data(b.begin() + 44, b.end());
    EXPECT_EQ(data, (std::vector<uint8_t>{10, 20, 11, 21, 12, 22, 10, 20}));
}

TEST(WavWriter, MonoByteRateAndReplacingAnExistingFile) {
    TempDir dir;
    const std::string path = dir / "m.wav";
    test::WriteBytes(path, std::vector<uint8_t>(1000, 0xAB));
    WavWriter w;
    ASSERT_TRUE(w.Open(path, {22050, 1, 16}, {}));
    const int16_t s[2] = {-1, 2};
    ASSERT_TRUE(test::WriteSixteen(w, s, nullptr, 2));
    ASSERT_TRUE(w.Finish());
    EXPECT_TRUE(w.Finish());  // a second finish touches nothing
    const auto b = ReadBytes(path);
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(U32(b, 28), 44100u);
    EXPECT_EQ(U16(b, 32), 2u);
    EXPECT_EQ(static_cast<int16_t>(U16(b, 44)), -1);
}

TEST(WavWriter, FullDiskIsReported) {
    WavWriter w;
    ASSERT_TRUE(w.Open("/dev/full", {44100, 2, 16}, {}));
    std::vector<int16_t> block(1152, 1000);
    bool ok = true;
    for (int i = 0; i < 64 && ok; ++i) ok = test::WriteSixteen(w, block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && w.Finish());
    EXPECT_TRUE(test::fs::exists("/dev/full"));  // a device is never removed
}

TEST(WavWriter, UncreatableFileFailsOpen) {
    WavWriter w;
    EXPECT_FALSE(w.Open("/nonexistent-folder/x.wav", {44100, 2, 16}, {}));
    EXPECT_FALSE(w.IsOpen());
}

}  // namespace
}  // namespace pelloran
