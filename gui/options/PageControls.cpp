#include "gui/options/PageControls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include <charconv>
#include <string>

namespace pelloran {

QFont PageFont() { return QApplication::font(); }

QLineEdit* MakeNumberEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

namespace {
bool ParseInt(const QString& text, int32_t& out) {
    const std::string s = text.trimmed().toStdString();
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || end != last) return false;
    out = value;
    return true;
}

}  // namespace

bool ReadIntEdit(QLineEdit* edit, int32_t& member, PageRefusal* refusal) {
    int32_t value = 0;
    if (ParseInt(edit->text(), value)) {
        member = value;
        return true;
    }
    if (!edit->isEnabled()) return true;  // a disabled field cannot be corrected; keep the member
    if (refusal) {
        refusal->message = QString::fromLatin1(kEnterIntegerMessage);
        refusal->focus = edit;
    }
    return false;
}

void ShowIntEdit(QLineEdit* edit, int32_t value) { edit->setText(QString::number(value)); }

void AddItem(QComboBox* list, const QString& text, int value) { list->addItem(text, value); }

bool SelectValue(QComboBox* list, int value) {
    const int index = list->findData(value);
    if (index < 0) return false;
    list->setCurrentIndex(index);
    return true;
}

std::optional<int> SelectedValue(const QComboBox* list) {
    if (list->currentIndex() < 0) return std::nullopt;
    return list->currentData().toInt();
}

QButtonGroup* MakeRadioGroup(QWidget* owner, std::initializer_list<QRadioButton*> buttons) {
    auto* group = new QButtonGroup(owner);
    int id = 0;
    for (QRadioButton* button : buttons) group->addButton(button, id++);
    return group;
}

void ShowRadio(QButtonGroup* group, int32_t index) {
    if (QAbstractButton* button = group->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group cannot clear its checked button; lift exclusivity for the moment.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
}

void ReadRadio(const QButtonGroup* group, int32_t& member) {
    const int id = group->checkedId();
    if (id >= 0) member = id;
}

void ShowCheck(QCheckBox* box, int32_t value) { box->setChecked(value != 0); }

void ReadCheck(const QCheckBox* box, int32_t& member) { member = box->isChecked() ? 1 : 0; }

QButtonGroup* AddRadioRow(QGridLayout* grid, int row, QWidget* owner, std::initializer_list<const char*> captions) {
    auto* group = new QButtonGroup(owner);
    auto* line = new QHBoxLayout;
    int id = 0;
    for (const char* caption : captions) {
        auto* button = new QRadioButton(QString::fromUtf8(caption), owner);
        group->addButton(button, id++);
        line->addWidget(button);
    }
    line->addStretch();
    grid->addLayout(line, row, 0, 1, 2);
    return group;
}

int ChannelIndex(const std::vector<int>& stored, int32_t value) {
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == value) return static_cast<int>(i);
    }
    return static_cast<int>(stored.size()) - 1;
}

int32_t StoredChoice(const std::vector<int>& stored, int32_t index) {
    const bool inRange = index >= 0 && static_cast<size_t>(index) < stored.size();
    return stored[inRange ? static_cast<size_t>(index) : stored.size() - 1];
}

}  // namespace pelloran
