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
    ASSERT_TRUE(w.Open(path, true, 16, 44100));
    ASSERT_TRUE(w.Close());
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
    {
        WavWriter w;
        ASSERT_TRUE(w.Open(path, true, 8, 8000));
        const uint8_t l[3] = {10, 11, 12};
        const uint8_t r[3] = {20, 21, 22};
        ASSERT_TRUE(w.Write8(l, r, 3));
        ASSERT_TRUE(w.Write8(l, r, 1));
    }  // destruction closes
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
    ASSERT_TRUE(w.Open(path, false, 16, 22050));
    const int16_t s[2] = {-1, 2};
    ASSERT_TRUE(w.Write16(s, nullptr, 2));
    ASSERT_TRUE(w.Close());
    EXPECT_TRUE(w.Close());  // a second close touches nothing
    const auto b = ReadBytes(path);
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(U32(b, 28), 44100u);
    EXPECT_EQ(U16(b, 32), 2u);
    EXPECT_EQ(static_cast<int16_t>(U16(b, 44)), -1);
}

TEST(WavWriter, FullDiskIsReported) {
    WavWriter w;
    ASSERT_TRUE(w.Open("/dev/full", true, 16, 44100));
    std::vector<int16_t> block(1152, 1000);
    bool ok = true;
    for (int i = 0; i < 64 && ok; ++i) ok = w.Write16(block.data(), block.data(), 1152);
    EXPECT_FALSE(ok && w.Close());
}

TEST(WavWriter, UncreatableFileFailsOpen) {
    WavWriter w;
    EXPECT_FALSE(w.Open("/nonexistent-folder/x.wav", true, 16, 44100));
    EXPECT_FALSE(w.IsOpen());
}

}  // namespace
}  // namespace pelloran
