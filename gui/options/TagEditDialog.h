#pragma once
// "Edit Tags": edits one copy of a format's tag options.

#include <QDialog>

#include "formats/SettingsTable.h"
#include "gui/options/OptionsHooks.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace pelloran {

class StepSpinCtrl;

class TagEditDialog : public QDialog {
public:
    // showCopyright false hides the copyright label and edit (the MP4 page has no copyright field).
    TagEditDialog(const TagSettings& tags, bool showCopyright, OptionsHooks& hooks,
                QWidget* parent = nullptr);

    // The edited copy; valid after the dialog was accepted.
    const TagSettings& Tags() const { return tags_; }

    // Reads the controls; a bad track number keeps the dialog open.
    void accept() override;

    QButtonGroup* trackGroup = nullptr;
    QLineEdit* trackEdit = nullptr;
    StepSpinCtrl* trackSpin = nullptr;
    QLineEdit* titleEdit = nullptr;
    QCheckBox* titleAsFileName = nullptr;
    QLineEdit* artistEdit = nullptr;
    QLineEdit* albumEdit = nullptr;
    QLineEdit* yearEdit = nullptr;
    QLineEdit* commentEdit = nullptr;
    QLineEdit* composerEdit = nullptr;
    QLineEdit* copyrightEdit = nullptr;
    QLabel* copyrightLabel = nullptr;
    QComboBox* genreList = nullptr;

private:
    void UpdateTrackEnabled();

    TagSettings tags_;
    OptionsHooks& hooks_;
};

}  // namespace pelloran
