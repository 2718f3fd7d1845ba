#pragma once
// "Mirror a Folder": a converted copy of a folder in the chosen output format, kept in step with it. The
// dialog shows what a run would do (new, changed, up to date, removed) before it runs it with progress.

#include <QtWidgets/QDialog>

#include <atomic>
#include <memory>

#include "gui/window/GuiBridge.h"
#include "gui/window/MirrorRun.h"
#include "settings/ConvertSettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace pelloran {

class MirrorDialog : public QDialog {
    Q_OBJECT
public:
    // settings: the window's, with its output format; jobs: files converted at once.
    MirrorDialog(const ConvertSettings& settings, int jobs, QWidget* parent = nullptr);
    ~MirrorDialog() override;

    void SetFolders(const QString& source, const QString& mirror);
    // Plans on a worker and shows the plan; Mirror runs the plan shown.
    void Preview();
    void Mirror();
    void Cancel();
    // Closing during a run cancels it; the dialog stays until the run has stopped.
    void reject() override;
    bool IsRunning() const { return running_; }

    QLineEdit* sourceEdit() const { return source_; }
    QLineEdit* mirrorEdit() const { return mirror_; }
    QCheckBox* pruneBox() const { return prune_; }
    QPushButton* previewButton() const { return previewButton_; }
    QPushButton* mirrorButton() const { return mirrorButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QLabel* summary() const { return summary_; }
    QTreeWidget* steps() const { return steps_; }
    QProgressBar* bar() const { return bar_; }

signals:
    void PreviewShown();
    void MirrorFinished();

private:
    void ShowPreview(std::shared_ptr<MirrorPreview> preview, bool ok);
    void ShowStepDone(size_t step, MirrorStepEnd end);
    void ShowFinished(const MirrorOutcome& outcome);
    void Browse(QLineEdit* edit, const QString& title);
    void Invalidate();
    void SetRunning(bool running);

    ConvertSettings settings_;
    int jobs_;
    std::shared_ptr<MirrorPreview> preview_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    bool planning_ = false;

    QLineEdit* source_ = nullptr;
    QLineEdit* mirror_ = nullptr;
    QCheckBox* prune_ = nullptr;
    QLabel* summary_ = nullptr;
    QTreeWidget* steps_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* previewButton_ = nullptr;
    QPushButton* mirrorButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    WorkerThread worker_;  // last: joined before anything it uses goes away
};

}  // namespace pelloran
