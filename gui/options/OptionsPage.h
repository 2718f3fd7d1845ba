#pragma once
// What every page of the options sheet shares: the page protocol (initialise on first show, check on
// leaving, apply on OK, copy back), the amplification group and the tag group (the controls' helpers are in
// PageControls.h).

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>

#include "formats/SettingsTable.h"
#include "gui/options/OptionsHooks.h"
#include "gui/options/PageControls.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pelloran {

class StepSpinCtrl;


class OptionsPage : public QWidget {
public:
    explicit OptionsPage(OptionsHooks& hooks, QWidget* parent = nullptr);

    virtual QString TabText() const = 0;
    bool IsCreated() const { return created_; }
    // Builds and initialises the controls the first time the page is shown.
    void EnsureCreated();

    // Leaving the page (tab switch, or OK while it is active): reads the controls and checks them.
    virtual bool KillActive(PageRefusal& refusal);
    // OK accepted: the controls and list selections go into the members.
    virtual void Apply();
    // The members go into the settings by the copy-back rules.
    virtual void CopyBack(ConvertSettings& settings) const = 0;

protected:
    virtual void Initialise() = 0;
    // Controls into members; with a refusal, a bad number refuses, without one it is skipped.
    virtual bool ReadControls(PageRefusal* refusal) = 0;
    virtual void ShowMembers() = 0;
    virtual bool Validate(PageRefusal& refusal);

    void Message(const QString& text, QMessageBox::Icon icon);
    OptionsHooks& hooks_;

private:
    bool created_ = false;
};

// "&Amplify / Reduce sound" with its coefficient edit and spin (10..3000 %, step 10).
class AmplifyGroup {
public:
    AmplifyGroup(int32_t& flag, int32_t& coefficient) : flag_(flag), coefficient_(coefficient) {}
    QWidget* Build(QWidget* parent);
    void ShowMembers();
    bool Read(PageRefusal* refusal);
    // The check on leaving: with the box checked the coefficient must be 10..3000.
    bool Check(PageRefusal& refusal) const;
    // Edit and spin enabled exactly when the box is checked.
    void UpdateEnabled();

    QCheckBox* box = nullptr;
    QLineEdit* edit = nullptr;
    StepSpinCtrl* spin = nullptr;

private:
    int32_t& flag_;
    int32_t& coefficient_;
};

// The tag group's captions; "ID3" only on the page of a format whose tags are ID3 (MP3).
struct TagCaptions {
    const char* add = "Add &tags";
    const char* transfer = "T&ransfer tags from source file";
    const char* none = "&None";
    const char* edit = "E&dit tags";
    const char* merge = "Source tags with my fields on top";
    const char* cover = "Copy cover art";
};

// The tag type radios (0 own tags, 1 the source's tags, 2 none, 3 the source's with the own fields on top), the
// tag editor button and the cover art switch (copyCover, which the page reads and stores).
class TagGroup {
public:
    TagGroup(int32_t& type, TagSettings& tags, OptionsHooks& hooks, TagCaptions captions,
             bool showCopyright)
        : type_(type), tags_(tags), hooks_(hooks), captions_(captions), showCopyright_(showCopyright) {}
    QWidget* Build(QWidget* parent);
    // The group in a frame of its own, as a page shows it; more controls may join the frame's row.
    QGroupBox* BuildBox(QWidget* page);
    void ShowMembers();
    void Read();
    // The edit button is enabled while "add" or "merge" is selected, the cover switch while the source's tags
    // travel.
    void UpdateEnabled();
    // Runs after the group's own rules when a type button is clicked.
    std::function<void()> afterTypeClicked;

    QButtonGroup* group = nullptr;
    QPushButton* editButton = nullptr;
    QCheckBox* coverBox = nullptr;
    int32_t copyCover = 1;

private:
    void EditTags();

    int32_t& type_;
    TagSettings& tags_;
    OptionsHooks& hooks_;
    TagCaptions captions_;
    bool showCopyright_;
    QWidget* owner_ = nullptr;
};

}  // namespace pelloran
