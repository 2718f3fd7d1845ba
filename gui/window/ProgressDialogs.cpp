#include "gui/window/ProgressDialogs.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QPainter>
#include <QtWidgets/QBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <cmath>

namespace pelloran {

namespace {

QProgressBar* MakeBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

QLabel* MakeText(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    // A long name never widens the panel: the text is cut at its right edge.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner) : QDialog(owner) {
    setWindowFlags(Qt::Widget);  // a panel of the owner's window, never a window of its own
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Pelloran"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });
}

void ProgressWindow::Arrange(std::initializer_list<QWidget*> rows) {
    auto* layout = new QVBoxLayout(this);
    for (QWidget* row : rows) layout->addWidget(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addStretch();
    layout->addLayout(buttons);
    setFixedHeight(layout->sizeHint().height());
}

void ProgressWindow::reject() { cancelRequested_ = true; }

void ProgressWindow::Present() {
    show();
    raise();
    cancel_->setFocus();
}

void ProgressWindow::Finish() {
    hide();
    deleteLater();
}

void ProgressWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (parentWidget()) QCoreApplication::postEvent(parentWidget(), new QEvent(QEvent::LayoutRequest));
}

void ProgressWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (parentWidget()) QCoreApplication::postEvent(parentWidget(), new QEvent(QEvent::LayoutRequest));
}

void ProgressWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

AddProgressDialog::AddProgressDialog(QWidget* owner) : ProgressWindow(owner) {
    text_ = MakeText(this);
    bar_ = MakeBar(this);
    Arrange({text_, bar_});
}

void AddProgressDialog::SetText(const QString& text) { text_->setText(text); }

void AddProgressDialog::SetRange(int count) {
    bar_->setRange(0, std::max(count, 1));
    bar_->setValue(0);
}

void AddProgressDialog::Step() { bar_->setValue(std::min(bar_->value() + 1, bar_->maximum())); }

ConversionProgressDialog::ConversionProgressDialog(QWidget* owner) : ProgressWindow(owner) {
    fileText_ = MakeText(this);
    fileBar_ = MakeBar(this);
    runText_ = MakeText(this);
    runBar_ = MakeBar(this);
    Arrange({fileText_, fileBar_, runText_, runBar_});
    fileBar_->setRange(0, kFileSteps);
}

void ConversionProgressDialog::SetFileText(const QString& text) { fileText_->setText(text); }

void ConversionProgressDialog::SetFileBar(int position) { fileBar_->setValue(std::clamp(position, 0, kFileSteps)); }
void ConversionProgressDialog::SetRunText(const QString& text) { runText_->setText(text); }

void ConversionProgressDialog::ResetRun() {
    runBar_->setRange(0, kRunSteps);
    runBar_->setValue(0);
}

void ConversionProgressDialog::SetRunFraction(double fraction) {
    runBar_->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kRunSteps)));
}

}  // namespace pelloran
