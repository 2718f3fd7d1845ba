#pragma once
// The small caption-less windows shown while files are added and while a run converts.

#include <QtWidgets/QDialog>

#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pelloran {

// Shared behaviour: no caption, dragged by its background, centred on its owner, a Cancel button that
// only raises the flag (the owner closes the window when the work has stopped).
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    bool CancelRequested() const { return cancelRequested_.load(); }
    QPushButton* cancelButton() const { return cancel_; }

    // Centres the window on its owner and shows it.
    void ShowCentred();
    // The work is over: the window goes away.
    void Finish();

public slots:
    void reject() override;  // Escape presses Cancel

protected:
    ProgressWindow(QWidget* owner, QSize size);
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
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
    // Width of the file bar in pixels; the file bar runs 0..width.
    int FileBarWidth() const { return fileBarWidth_; }
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
    int fileBarWidth_;
    static constexpr int kRunSteps = 1000;
};

}  // namespace pelloran
