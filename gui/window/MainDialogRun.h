#pragma once
// How a conversion run on the worker reaches the main window: its progress and its observer.

#include <QtCore/QString>

#include <string>
#include <vector>

#include "app/ConversionRun.h"
#include "app/Progress.h"
#include "gui/window/MainDialog.h"
#include "gui/window/ProgressDialogs.h"
#include "frontend/Wording.h"
#include "gui/window/SortListCtrl.h"

namespace pelloran {

// Progress of a run, reported by the worker and shown by the progress window on the GUI thread.
class MainDialog::RunProgress : public ProgressSink {
public:
    explicit RunProgress(ConversionProgressDialog* dialog) : dialog_(dialog), barWidth_(dialog->FileBarWidth()) {}

    void SetFileText(const std::string& text) override {
        PostToGui(dialog_, [d = dialog_, t = QString::fromStdString(text)] { d->SetFileText(t); });
    }
    int FileBarWidth() const override { return barWidth_; }
    void SetFileBar(int position) override {
        PostToGui(dialog_, [d = dialog_, position] { d->SetFileBar(position); });
    }
    void SetRunText(const std::string& text) override {
        PostToGui(dialog_, [d = dialog_, t = QString::fromStdString(text)] { d->SetRunText(t); });
    }
    // The window appears once the checks before the run have passed.
    void SetRunRange(int count) override {
        PostToGui(dialog_, [d = dialog_, count] {
            d->SetRunRange(count);
            d->ShowCentred();
        });
    }
    void StepRun() override {
        PostToGui(dialog_, [d = dialog_] { d->StepRun(); });
    }
    void Pump() override {}  // the GUI thread runs on its own
    bool CancelRequested() const override { return dialog_->CancelRequested(); }

private:
    ConversionProgressDialog* dialog_;
    int barWidth_;
};

// What the run tells the window: statuses, the column widening, questions, the output to show.
class MainDialog::RunObserverImpl : public RunObserver {
public:
    explicit RunObserverImpl(MainDialog* owner) : owner_(owner), rows_(owner->runRows_) {}

    void SetStatus(size_t index, const std::string& text) override {
        if (index >= rows_.size()) return;
        PostToGui(owner_, [row = rows_[index], t = QString::fromStdString(text)] {
            row->setText(SortListCtrl::kColStatus, t);
        });
    }
    void WidenStatusColumn() override {
        PostToGui(owner_, [o = owner_] {
            if (o->statusColumnWidth_ >= 500) return;
            o->statusColumnWidth_ = 500;
            o->list_->setColumnWidth(SortListCtrl::kColStatus, 500);
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
