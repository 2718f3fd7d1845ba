// A folder of 24-bit FLAC files converted from the window to FLAC, ALAC and Opus: the lossless files hold the
// very same samples, the Opus files the exact length.

#include <cmath>

#include "tests/window/WindowTest.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

std::string SamplesMd5(const std::string& path) {
    return Run({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-c:a", "pcm_s32le", "-f", "md5", "-"}).out;
}

size_t DecodedFrames(const std::string& path) {
    return Run({"ffmpeg", "-v", "error", "-i", path, "-f", "s32le", "-ac", "1", "-"}).out.size() / 4;
}

}  // namespace

class LosslessWindowTest : public QObject {
    Q_OBJECT

private slots:
    void aFolderOf24BitFlacConvertsToFlacAlacAndOpus() {
        for (const auto& [code, extension] : {std::pair{kOutputFlac, ".flac"}, {kOutputAlac, ".m4a"},
                                             {kOutputOpus, ".opus"}}) {
            TempDir outDir;
            WindowHarness h([&](ConvertSettings& s) {
                s.OutputFormat = code;
                s.DestOutputFolderOpt = kOutputIntoFolder;
                s.DestSpecifiedFolder = outDir.path().string();
                s.OutputFiles2MyDocuments = 0;
            });
            h.Open();
            fs::create_directories(h.File("album"));
            const std::vector<std::pair<std::string, std::string>> sources = {{"one", "1.3"}, {"two", "0.7"}};
            for (const auto& [name, seconds] : sources) {
                const std::string path = h.File("album/" + name + ".flac");
                QCOMPARE(Run({"sox", "-R", "-n", "-r", "96000", "-b", "24", "-c", "2", path, "synth", seconds,
                              "pinknoise", "vol", "0.5"})
                             .exitCode,
                         0);
            }
            h.AddAndWait({h.File("album/one.flac"), h.File("album/two.flac")});
            h.ConvertAllAndWait();
            QCOMPARE(h.Statuses(), (std::vector<std::string>{"one" + std::string(extension),
                                                             "two" + std::string(extension)}));
            for (const auto& [name, seconds] : sources) {
                const std::string source = h.File("album/" + name + ".flac");
                const std::string out = outDir / (name + extension);
                if (code == kOutputOpus) {
                    QCOMPARE(DecodedFrames(out), static_cast<size_t>(std::ceil(std::stod(seconds) * 48000)));
                } else {
                    QCOMPARE(SamplesMd5(out), SamplesMd5(source));
                }
            }
        }
    }
};

QTEST_MAIN(LosslessWindowTest)
#include "lossless_test.moc"
