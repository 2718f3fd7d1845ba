#pragma once
// How a conversion run on the worker reaches the main window: its progress and its observer. Several
// entries may convert at once; each tells its own fraction, and the window adds them up (RunTally).

#include <QtCore/QString>

#include <string>
#include <vector>

#include "app/ConversionRun.h"
#include "app/Progress.h"
#include "frontend/Wording.h"
#include "gui/window/MainDialog.h"
#include "gui/window/ProgressDialogs.h"
#include "gui/window/RunTally.h"
#include "gui/window/SortListCtrl.h"

namespace pelloran {

// Progress of a run, reported by the workers. The file line and both bars are drawn from the tally on the
// GUI thread, so the run's own file texts and steps are not passed on.
class MainDialog::RunProgress : public ProgressSink {
public:
    explicit RunProgress(ConversionProgressDialog* dialog) : dialog_(dialog), barWidth_(dialog->FileBarWidth()) {}

    void SetFileStep(const FileStep&) override {}
    int FileBarWidth() const override { return barWidth_; }
    void SetFileBar(int) override {}
    void SetRunStep(const RunStep& step) override {
        PostToGui(dialog_, [d = dialog_, t = QString::fromStdString(RunStepText(step))] { d->SetRunText(t); });
    }
    // The panel appears once the checks before the run have passed.
    void SetRunRange(int) override {
        PostToGui(dialog_, [d = dialog_] {
            d->ResetRun();
            d->Present();
        });
    }
    void StepRun() override {}
    void Pump() override {}  // the GUI thread runs on its own
    bool CancelRequested() const override { return dialog_->CancelRequested(); }

private:
    ConversionProgressDialog* dialog_;
    int barWidth_;
};

// What the run tells the window: statuses, fractions, the column widening, questions, the output to show.
// Every call is posted to the GUI thread, which alone touches the rows and the tally.
class MainDialog::RunObserverImpl : public RunObserver {
public:
    explicit RunObserverImpl(MainDialog* owner) : owner_(owner), rows_(owner->runRows_) {}

    void SetStatus(size_t index, const EntryStatus& status) override {
        if (index >= rows_.size()) return;
        const bool starting = status.state == EntryState::Converting;
        PostToGui(owner_, [o = owner_, index, starting, t = QString::fromStdString(StatusText(status))] {
            o->ShowEntryStatus(index, t, starting);
        });
    }
    void EntryProgress(size_t index, double fraction) override {
        PostToGui(owner_, [o = owner_, index, fraction] { o->ShowEntryProgress(index, fraction); });
    }
    void EntryFinished(size_t index, const EntryResult& result) override {
        if (index >= rows_.size()) return;
        // The entry's target is final here, on the worker that converted it.
        const std::string target = result.ok ? rows_[index]->item().targetPath : std::string();
        PostToGui(owner_, [o = owner_, index, target] { o->ShowEntryFinished(index, target); });
    }
    void WidenStatusColumn() override {
        PostToGui(owner_, [o = owner_] {
            if (o->statusColumnWidth_ >= 500) return;
            o->statusColumnWidth_ = 500;
            o->statusBase_ = 500;
            o->FitColumns();
        });
    }
    void ScrollTo(size_t index) override {
        if (index >= rows_.size()) return;
        PostToGui(owner_, [o = owner_, row = rows_[index]] { o->list_->scrollToItem(row); });
    }
    bool Ask(Question question, const QuestionData& data) override {
        return owner_->questions_.Ask(QString::fromStdString(QuestionText(question, data)));
    }
    void ShowOutput(const std::string& path) override {
        PostToGui(owner_, [o = owner_, path] { o->shell_.showInFileManager(path); });
    }
    void OpenAddress(const std::string& address) override {
        PostToGui(owner_, [o = owner_, address] { o->shell_.open(address); });
    }

private:
    MainDialog* owner_;
    const std::vector<FileRow*> rows_;
};

}  // namespace pelloran
