// Analyse Loudness from the list's menu: levels against ffmpeg's meter, the tip, numeric sorting, the width.

#include <QtCore/QRegularExpression>

#include <cmath>
#include <optional>
#include <regex>

#include "tests/window/WindowTest.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

// The leading number of a text, read as the window writes it (not in the desktop's locale).
double Number(const std::string& text) { return QString::fromStdString(text).section(u' ', 0, 0).toDouble(); }

// ffmpeg's integrated loudness of a file (the summary's "I:" line).
std::optional<double> FfmpegLufs(const std::string& path) {
    const std::string err = Run({"ffmpeg", "-nostats", "-i", path, "-af", "ebur128", "-f", "null", "-"}).err;
    std::smatch m;
    std::optional<double> last;
    for (auto it = err.cbegin(); std::regex_search(it, err.cend(), m, std::regex(R"(I:\s+(-?[0-9.]+) LUFS)"));
         it = m.suffix().first)
        last = Number(m[1]);
    return last;
}

}  // namespace

class LoudnessWindowTest : public QObject {
    Q_OBJECT

private slots:
    void decimalTextsSortByValueAndBlanksLast() {
        const struct {
            const char* a;
            const char* b;
            int order;
        } cases[] = {
            {"-14.2 LUFS", "-14.7 LUFS", 1}, {"-9.0 LUFS", "-14.2 LUFS", 1}, {"-3.0 LUFS", "-3.0 LUFS", 0},
            {"", "-20.0 LUFS", 1},           {"Failed", "-70.0 LUFS", 1},     {"Silent", "", 0},
        };
        for (const auto& c : cases)
            QVERIFY2(SortListCtrl::CompareTexts(c.a, c.b, SortListCtrl::kSortDecimal) == c.order, c.a);
    }

    void analysesRowsIntoTheLoudnessColumn() {
        WindowHarness h;
        MainDialog& w = h.Open();
        const std::string loud = h.File("loud.wav");
        const std::string quiet = h.File("quiet.wav");
        for (const auto& [path, vol] : {std::pair{loud, "0.5"}, {quiet, "0.1"}})
            QCOMPARE(Run({"sox", "-R", "-n", "-r", "44100", "-c", "2", path, "synth", "3", "pluck", "220", "vol", vol})
                         .exitCode,
                     0);
        h.AddAndWait({loud, quiet});
        SortListCtrl* list = w.list();
        QVERIFY(list->isColumnHidden(SortListCtrl::kColLoudness));

        // Nothing selected: every row. The column shows and the list keeps to its width.
        QSignalSpy done(&w, &MainDialog::LoudnessFinished);
        w.OnCommand(MainDialog::kCmdAnalyseLoudness);
        QVERIFY(done.wait(60000));
        QVERIFY(!list->isColumnHidden(SortListCtrl::kColLoudness));
        int sum = 0;
        for (int i = 0; i < SortListCtrl::kColumnCount; ++i) sum += list->columnWidth(i);
        QCOMPARE(sum, list->viewport()->width());
        QVERIFY(list->columnWidth(SortListCtrl::kColStatus) >
                QFontMetrics(list->font()).horizontalAdvance("Converting 100%"));

        const std::vector<std::string> texts = h.Column(SortListCtrl::kColLoudness);
        QCOMPARE(texts.size(), size_t{2});
        QVERIFY2(texts[0].ends_with(" LUFS") && texts[1].ends_with(" LUFS"), texts[1].c_str());
        const double loudLufs = Number(texts[0]);
        const double quietLufs = Number(texts[1]);
        QVERIFY2(std::abs(loudLufs - quietLufs - 13.98) < 0.2, texts[1].c_str());  // 20 log10(5)
        if (const std::optional<double> reference = FfmpegLufs(loud))
            QVERIFY2(std::abs(loudLufs - *reference) < 0.3, qPrintable(QString::number(*reference)));
        const QString tip = list->Row(0)->toolTip(SortListCtrl::kColLoudness);
        QVERIFY2(QRegularExpression(R"(^Range \d+\.\d LU, true peak -\d+\.\d dBTP, sample peak -\d+\.\d dBFS$)")
                     .match(tip)
                     .hasMatch(),
                 qPrintable(tip));

        // Numeric order: the quieter file first.
        list->SortByColumn(SortListCtrl::kColLoudness);
        QCOMPARE(h.Column(SortListCtrl::kColFile), (std::vector<std::string>{"quiet.wav", "loud.wav"}));

        // A selection: only its rows.
        for (FileRow* row : list->AllRows()) row->setText(SortListCtrl::kColLoudness, QString());
        h.SelectRows({1});
        w.OnCommand(MainDialog::kCmdAnalyseLoudness);
        QVERIFY(done.wait(60000));
        QCOMPARE(h.Column(SortListCtrl::kColLoudness)[0], std::string());
        QVERIFY(!h.Column(SortListCtrl::kColLoudness)[1].empty());

        w.OnCommand(MainDialog::kCmdRemoveAll);
        QVERIFY(list->isColumnHidden(SortListCtrl::kColLoudness));
    }
};

QTEST_MAIN(LoudnessWindowTest)
#include "loudness_test.moc"
