#pragma once
// The controls' helpers every options page and the tag editor share: the page font, number edits, lists,
// radio groups and check boxes read into and shown from settings members, and why a page refused to be left.

#include <QFont>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace pelloran {

// Why a page refused to be left: the message and the control that gets the focus.
struct PageRefusal {
    QString message;
    QWidget* focus = nullptr;
};

inline constexpr const char* kEnterIntegerMessage = "Please enter an integer.";

// The page font: the desktop's own.
QFont PageFont();

// An edit that takes digits only.
QLineEdit* MakeNumberEdit(QWidget* parent);
// Reads an integer from an edit into member. An enabled edit whose text is no integer fails, with
// "Please enter an integer." when a refusal is given; a disabled one keeps the member.
bool ReadIntEdit(QLineEdit* edit, int32_t& member, PageRefusal* refusal);
void ShowIntEdit(QLineEdit* edit, int32_t value);

// Drop-down lists: every item carries an integer.
void AddItem(QComboBox* list, const QString& text, int value);
// Selects the first item carrying value; false when none does (the selection is left alone).
bool SelectValue(QComboBox* list, int value);
std::optional<int> SelectedValue(const QComboBox* list);

// Radio groups: the member is the 0-based index of the checked button.
QButtonGroup* MakeRadioGroup(QWidget* owner, std::initializer_list<QRadioButton*> buttons);
// Checks the button of that index; an index out of range leaves every button clear.
void ShowRadio(QButtonGroup* group, int32_t index);
// The checked button's index; with none checked the member keeps its value.
void ReadRadio(const QButtonGroup* group, int32_t& member);
// A row of radio buttons across both columns of a grid row, grouped and numbered from 0.
QButtonGroup* AddRadioRow(QGridLayout* grid, int row, QWidget* owner, std::initializer_list<const char*> captions);
void ShowCheck(QCheckBox* box, int32_t value);
void ReadCheck(const QCheckBox* box, int32_t& member);

// Stored channel counts per channel button: stereo, mono, same as the source.
inline const std::vector<int> kStereoMonoSame = {2, 1, 0};
// Index of a stored value in a channel table; values not in it give the last index ("Same as original").
int ChannelIndex(const std::vector<int>& stored, int32_t value);
// The stored value of a button index; an index out of range gives the last entry.
int32_t StoredChoice(const std::vector<int>& stored, int32_t index);

}  // namespace pelloran
