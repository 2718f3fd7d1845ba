#include "gui/options/OptionsPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>


#include "gui/options/StepSpinCtrl.h"
#include "gui/options/TagEditDialog.h"

namespace pelloran {

// ---- OptionsPage

OptionsPage::OptionsPage(OptionsHooks& hooks, QWidget* parent) : QWidget(parent), hooks_(hooks) {}

void OptionsPage::EnsureCreated() {
    if (created_) return;
    created_ = true;
    setFont(PageFont());
    Initialise();
}

bool OptionsPage::KillActive(PageRefusal& refusal) {
    if (!ReadControls(&refusal)) return false;
    if (!Validate(refusal)) return false;
    // The framework's own read runs again after a successful check.
    return ReadControls(&refusal);
}

void OptionsPage::Apply() { ReadControls(nullptr); }

bool OptionsPage::Validate(PageRefusal&) { return true; }

void OptionsPage::Message(const QString& text, QMessageBox::Icon icon) {
    if (hooks_.message) hooks_.message(this, text, icon);
}

// ---- AmplifyGroup

QWidget* AmplifyGroup::Build(QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* grid = new QGridLayout(holder);
    grid->setContentsMargins(0, 0, 0, 0);
    box = new QCheckBox(QStringLiteral("&Amplify / Reduce sound"), holder);
    auto* label = new QLabel(QStringLiteral("&Coefficient:"), holder);
    edit = MakeNumberEdit(holder);
    edit->setMaximumWidth(60);
    label->setBuddy(edit);
    spin = new StepSpinCtrl(holder);
    spin->SetBuddy(edit);
    spin->SetRange(10, 3000);
    spin->SetStep(10);
    auto* percent = new QLabel(QStringLiteral("%"), holder);
    // What the coefficient means, once: in the tips of the group's controls.
    const QString legend = QStringLiteral("< 100% - Reduce sound\n= 100% - No changes\n> 100% - Amplify sound");
    for (QWidget* control : std::initializer_list<QWidget*>{box, edit, spin}) control->setToolTip(legend);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(edit);
    row->addWidget(spin);
    row->addWidget(percent);
    row->addStretch();
    grid->addWidget(box, 0, 0);
    grid->addLayout(row, 1, 0);
    QObject::connect(box, &QCheckBox::clicked, holder, [this] {
        Read(nullptr);
        UpdateEnabled();
        if (box->isChecked()) edit->setFocus();
    });
    return holder;
}

void AmplifyGroup::ShowMembers() {
    ShowCheck(box, flag_);
    ShowIntEdit(edit, coefficient_);
}

bool AmplifyGroup::Read(PageRefusal* refusal) {
    ReadCheck(box, flag_);
    return ReadIntEdit(edit, coefficient_, refusal);
}

bool AmplifyGroup::Check(PageRefusal& refusal) const {
    if (flag_ != 0 && (coefficient_ < 10 || coefficient_ > 3000)) {
        refusal.message = QStringLiteral("Invalid amplification coefficient. It's betwen 10 and 3000.");
        refusal.focus = edit;
        return false;
    }
    return true;
}

void AmplifyGroup::UpdateEnabled() {
    const bool on = box->isChecked();
    edit->setEnabled(on);
    spin->setEnabled(on);
}

// ---- TagGroup

QGroupBox* TagGroup::BuildBox(QWidget* page) {
    auto* box = new QGroupBox(page);
    auto* row = new QHBoxLayout(box);
    row->addWidget(Build(box));
    return box;
}

QWidget* TagGroup::Build(QWidget* parent) {
    owner_ = parent;
    auto* holder = new QWidget(parent);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* add = new QRadioButton(QString::fromUtf8(captions_.add), holder);
    auto* transfer = new QRadioButton(QString::fromUtf8(captions_.transfer), holder);
    auto* none = new QRadioButton(QString::fromUtf8(captions_.none), holder);
    auto* merge = new QRadioButton(QString::fromUtf8(captions_.merge), holder);
    group = MakeRadioGroup(holder, {add, transfer, none, merge});
    coverBox = new QCheckBox(QString::fromUtf8(captions_.cover), holder);
    editButton = new QPushButton(QString::fromUtf8(captions_.edit), holder);
    auto* row = new QHBoxLayout;
    row->addWidget(add);
    row->addWidget(editButton);
    row->addStretch();
    layout->addLayout(row);
    layout->addWidget(transfer);
    layout->addWidget(merge);
    layout->addWidget(none);
    layout->addWidget(coverBox);
    QObject::connect(coverBox, &QCheckBox::toggled, holder, [this](bool on) { copyCover = on ? 1 : 0; });
    QObject::connect(group, &QButtonGroup::idClicked, holder, [this](int) {
        Read();
        UpdateEnabled();
        if (afterTypeClicked) afterTypeClicked();
    });
    QObject::connect(editButton, &QPushButton::clicked, holder, [this] { EditTags(); });
    return holder;
}

void TagGroup::ShowMembers() {
    ShowRadio(group, type_);
    ShowCheck(coverBox, copyCover);
}

void TagGroup::Read() {
    ReadRadio(group, type_);
    ReadCheck(coverBox, copyCover);
}

void TagGroup::UpdateEnabled() {
    const int type = group->checkedId();
    editButton->setEnabled(type == 0 || type == 3);
    coverBox->setEnabled(type == 1 || type == 3);
}

void TagGroup::EditTags() {
    TagEditDialog dialog(tags_, showCopyright_, hooks_, owner_);
    if (hooks_.runModal && hooks_.runModal(dialog)) tags_ = dialog.Tags();
}

}  // namespace pelloran
