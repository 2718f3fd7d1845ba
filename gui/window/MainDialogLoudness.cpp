// Analyse Loudness: rows measured on the worker, their level in the Loudness column, the rest in its tip.

#include <QtWidgets/QHeaderView>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/LoudnessPass.h"
#include "gui/window/MainDialog.h"
#include "gui/window/ProgressDialogs.h"
#include "gui/window/SortListCtrl.h"

namespace pelloran {

namespace {

// What a row is measured from, copied for the worker.
struct LoudSource {
    std::string path;
    uint16_t formatCode = 0;
    std::optional<CueSpan> cue;
};

QString Decibels(std::optional<double> value, const char* unit) {
    return value ? QStringLiteral("%1 %2").arg(*value, 0, 'f', 1).arg(QLatin1String(unit))
                 : QStringLiteral("-inf %1").arg(QLatin1String(unit));
}

}  // namespace

void MainDialog::AnalyseLoudness() {
    std::vector<FileRow*> rows = list_->SelectedRows();
    if (rows.empty()) rows = list_->AllRows();
    if (rows.empty()) {
        ShowMessage(this, QMessageBox::Information, QStringLiteral("The list is empty. Add files first."));
        return;
    }
    SetBusy(true);
    loudRows_ = rows;
    std::vector<LoudSource> sources;
    for (const FileRow* row : rows)
        sources.push_back({row->item().sourcePath, row->item().formatCode, row->item().cue});
    // The adding panel serves: a text, a bar of files and Cancel, placed, cancelled and closed as for adding.
    AddProgressDialog* dialog = new AddProgressDialog(this);
    addDialog_ = dialog;
    dialog->SetRange(static_cast<int>(rows.size()));
    dialog->SetText(QStringLiteral("Analysing loudness..."));
    dialog->Present();

    const int jobs = std::clamp(settings_.ParallelJobs, 1, static_cast<int>(std::min<size_t>(sources.size(), 64)));
    worker_.Start([this, dialog, jobs, sources = std::move(sources)] {
        std::atomic<size_t> next{0};
        std::atomic<int> done{0};
        const auto cancelled = [dialog] { return dialog->CancelRequested(); };
        const auto measure = [&] {
            for (size_t i; !cancelled() && (i = next.fetch_add(1)) < sources.size();) {
                const LoudSource& s = sources[i];
                std::optional<LoudnessResult> result =
                    MeasureSource(s.path, s.formatCode, s.cue ? &*s.cue : nullptr, std::nullopt, cancelled);
                if (cancelled()) return;  // a measure cut short is no result
                const int finished = ++done;
                const int count = static_cast<int>(sources.size());
                PostToGui(this, [this, dialog, i, result, finished, count] {
                    ShowLoudness(i, result);
                    dialog->SetText(QStringLiteral("Analysed %1 of %2 files").arg(finished).arg(count));
                    dialog->Step();
                });
            }
        };
        std::vector<std::thread> helpers;
        for (int t = 1; t < jobs; ++t) helpers.emplace_back(measure);
        measure();
        for (std::thread& helper : helpers) helper.join();
        PostToGui(this, [this] { FinishLoudness(); });
    });
}

void MainDialog::ShowLoudness(size_t index, const std::optional<LoudnessResult>& result) {
    if (index >= loudRows_.size()) return;
    FileRow* row = loudRows_[index];
    if (!result) {
        row->setText(SortListCtrl::kColLoudness, QStringLiteral("Failed"));
        row->setToolTip(SortListCtrl::kColLoudness, QStringLiteral("The file could not be decoded."));
    } else if (!result->integrated) {
        // Digital silence, audio under the absolute gate, or under 400 ms: no integrated loudness.
        row->setText(SortListCtrl::kColLoudness, QStringLiteral("Silent"));
        row->setToolTip(SortListCtrl::kColLoudness,
                        QStringLiteral("Too quiet or too short to measure, sample peak %1")
                            .arg(Decibels(result->SamplePeakDb(), "dBFS")));
    } else {
        row->setText(SortListCtrl::kColLoudness, Decibels(result->integrated, "LUFS"));
        QStringList parts;
        if (result->range) parts << QStringLiteral("Range %1").arg(Decibels(result->range, "LU"));
        if (result->truePeak) parts << QStringLiteral("true peak %1").arg(Decibels(result->TruePeakDb(), "dBTP"));
        parts << QStringLiteral("sample peak %1").arg(Decibels(result->SamplePeakDb(), "dBFS"));
        row->setToolTip(SortListCtrl::kColLoudness, parts.join(QStringLiteral(", ")));
    }
    row->setTextAlignment(SortListCtrl::kColLoudness, Qt::AlignRight | Qt::AlignVCenter);
    ShowLoudnessColumn(true);
}

void MainDialog::FinishLoudness() {
    worker_.Join();
    if (addDialog_) addDialog_->Finish();
    addDialog_ = nullptr;
    loudRows_.clear();
    SetBusy(false);
    emit LoudnessFinished();
    if (closeWhenIdle_) close();
    else AfterWork();
}

void MainDialog::ShowLoudnessColumn(bool shown) {
    if (list_->isColumnHidden(SortListCtrl::kColLoudness) != shown) return;
    list_->setColumnHidden(SortListCtrl::kColLoudness, !shown);
    FitColumns();
}

}  // namespace pelloran
