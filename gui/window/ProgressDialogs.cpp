#include "gui/window/ProgressDialogs.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QWindow>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <cmath>

namespace pelloran {

namespace {

// Dialog units of the layout to pixels (the window's font at 8 points: 6 x 13 pixels per 4 x 8 units).
QRect Units(int x, int y, int w, int h) {
    return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8);
}

QProgressBar* MakeBar(QWidget* parent, const QRect& at) {
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(at);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

QLabel* MakeText(QWidget* parent, const QRect& at) {
    auto* label = new QLabel(parent);
    label->setGeometry(at);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner, QSize size) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(size);
    setModal(true);
    setWindowTitle(QStringLiteral("Pelloran"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });
}

void ProgressWindow::reject() { cancelRequested_ = true; }

void ProgressWindow::ShowCentred() {
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - rect().center());
    }
    show();
}

void ProgressWindow::Finish() {
    hide();
    deleteLater();
}

void ProgressWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void ProgressWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

AddProgressDialog::AddProgressDialog(QWidget* owner) : ProgressWindow(owner, Units(0, 0, 320, 62).size()) {
    text_ = MakeText(this, Units(7, 7, 306, 10));
    bar_ = MakeBar(this, Units(7, 18, 306, 13));
    cancel_->setGeometry(Units(134, 39, 50, 16));
}

void AddProgressDialog::SetText(const QString& text) { text_->setText(text); }

void AddProgressDialog::SetRange(int count) {
    bar_->setRange(0, std::max(count, 1));
    bar_->setValue(0);
}

void AddProgressDialog::Step() { bar_->setValue(std::min(bar_->value() + 1, bar_->maximum())); }

ConversionProgressDialog::ConversionProgressDialog(QWidget* owner) : ProgressWindow(owner, Units(0, 0, 320, 95).size()) {
    fileText_ = MakeText(this, Units(7, 7, 306, 10));
    fileBar_ = MakeBar(this, Units(7, 18, 306, 13));
    runText_ = MakeText(this, Units(7, 39, 306, 10));
    runBar_ = MakeBar(this, Units(7, 50, 306, 13));
    cancel_->setGeometry(Units(135, 72, 50, 16));
    fileBarWidth_ = std::max(fileBar_->width(), 1);
    fileBar_->setRange(0, fileBarWidth_);
}

void ConversionProgressDialog::SetFileText(const QString& text) { fileText_->setText(text); }

void ConversionProgressDialog::SetFileBar(int position) { fileBar_->setValue(std::clamp(position, 0, fileBarWidth_)); }

void ConversionProgressDialog::SetRunText(const QString& text) { runText_->setText(text); }

void ConversionProgressDialog::ResetRun() {
    runBar_->setRange(0, kRunSteps);
    runBar_->setValue(0);
}

void ConversionProgressDialog::SetRunFraction(double fraction) {
    runBar_->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kRunSteps)));
}

}  // namespace pelloran
