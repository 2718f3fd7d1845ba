#pragma once
// An up-down control that moves its buddy edit's number by a fixed step.

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace pelloran {

class StepSpinCtrl : public QWidget {
public:
    explicit StepSpinCtrl(QWidget* parent = nullptr);

    // The edit whose number the control moves; its Up and Down keys step it too.
    void SetBuddy(QLineEdit* buddy);
    QLineEdit* Buddy() const { return buddy_; }
    void SetRange(int lower, int upper);
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    // Refused (the old step stays) unless step is below upper - lower of the current range.
    bool SetStep(int step);
    int Step() const { return step_; }

    // A position change: positive moves up by the step, anything else down by it. The result stays
    // within the range and is shown in the buddy.
    void Delta(int delta);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* buddy_ = nullptr;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 1;
};

}  // namespace pelloran
