#pragma once
// The progress panels shown under the file list while files are added and while a run converts: the list
// stays in sight above them.

#include <QtWidgets/QDialog>

#include <atomic>
#include <initializer_list>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pelloran {

// Shared behaviour: a panel of its owner's window (the owner places it under the list when it shows or
// hides), a Cancel button that only raises the flag (the owner closes the panel when the work has stopped).
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    bool CancelRequested() const { return cancelRequested_.load(); }
    QPushButton* cancelButton() const { return cancel_; }

    // Shows the panel with the keyboard on Cancel.
    void Present();
    // The work is over: the panel goes away.
    void Finish();

public slots:
    void reject() override;  // Escape presses Cancel

protected:
    explicit ProgressWindow(QWidget* owner);
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The texts and bars from the top, then the Cancel button centred under them.
    void Arrange(std::initializer_list<QWidget*> rows);
    QPushButton* cancel_;

private:
    std::atomic<bool> cancelRequested_{false};
};

class AddProgressDialog : public ProgressWindow {
    Q_OBJECT
public:
    explicit AddProgressDialog(QWidget* owner);
    void SetText(const QString& text);
    void SetRange(int count);
    void Step();

    QLabel* textLabel() const { return text_; }
    QProgressBar* bar() const { return bar_; }

private:
    QLabel* text_;
    QProgressBar* bar_;
};

class ConversionProgressDialog : public ProgressWindow {
    Q_OBJECT
public:
    explicit ConversionProgressDialog(QWidget* owner);
    // Steps of the file bar; it runs 0..steps.
    int FileBarWidth() const { return kFileSteps; }
    void SetFileText(const QString& text);
    void SetFileBar(int position);
    void SetRunText(const QString& text);
    // The run bar starts again at 0.
    void ResetRun();
    // The whole run's part done, 0..1.
    void SetRunFraction(double fraction);

    QLabel* fileText() const { return fileText_; }
    QProgressBar* fileBar() const { return fileBar_; }
    QLabel* runText() const { return runText_; }
    QProgressBar* runBar() const { return runBar_; }

private:
    QLabel* fileText_;
    QProgressBar* fileBar_;
    QLabel* runText_;
    QProgressBar* runBar_;
    static constexpr int kFileSteps = 1000;
    static constexpr int kRunSteps = 1000;
};

}  // namespace pelloran
