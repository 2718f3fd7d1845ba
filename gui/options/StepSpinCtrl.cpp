#include "gui/options/StepSpinCtrl.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <string>

namespace pelloran {

StepSpinCtrl::StepSpinCtrl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    for (QToolButton* button : {up_, down_}) {
        button->setArrowType(button == up_ ? Qt::UpArrow : Qt::DownArrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(16, 11);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, [this] { Delta(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Delta(-1); });
}

void StepSpinCtrl::SetBuddy(QLineEdit* buddy) {
    if (buddy_) buddy_->removeEventFilter(this);
    buddy_ = buddy;
    if (buddy_) buddy_->installEventFilter(this);
}

void StepSpinCtrl::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
}

bool StepSpinCtrl::SetStep(int step) {
    if (!(step < upper_ - lower_)) return false;
    step_ = step;
    return true;
}

void StepSpinCtrl::Delta(int delta) {
    if (!buddy_ || !isEnabled()) return;
    const int change = delta > 0 ? step_ : -step_;
    const std::string text = buddy_->text().trimmed().toStdString();
    long long value = lower_;
    const char* first = text.data();
    if (!text.empty() && text[0] == '+') ++first;
    std::from_chars(first, text.data() + text.size(), value);
    const long long lo = std::min(lower_, upper_);
    const long long hi = std::max(lower_, upper_);
    value = std::clamp(value + change, lo, hi);
    buddy_->setText(QString::number(value));
}

bool StepSpinCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Delta(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace pelloran
