#include "gui/options/TagEditDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>

#include "media/TagRecord.h"
#include "gui/options/PageControls.h"
#include "gui/options/StepSpinCtrl.h"

namespace pelloran {

namespace {
constexpr int kCustomTrack = 2;
constexpr int kMaxTrack = 255;

QString Text(const std::string& s) { return QString::fromStdString(s); }
std::string Std(const QString& s) { return s.toStdString(); }

}  // namespace

TagEditDialog::TagEditDialog(const TagSettings& tags, bool showCopyright, OptionsHooks& hooks, QWidget* parent)
    : QDialog(parent), tags_(tags), hooks_(hooks) {
    setWindowTitle(QStringLiteral("Edit Tags"));
    setFont(PageFont());

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const char* caption, QWidget* field) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
        return label;
    };

    // Track number: none, the position in the list, or a number of the user's.
    auto* none = new QRadioButton(QStringLiteral("&None"), this);
    auto* sequence = new QRadioButton(QStringLiteral("&Sequence number in list"), this);
    auto* custom = new QRadioButton(QStringLiteral("C&ustom"), this);
    trackGroup = MakeRadioGroup(this, {none, sequence, custom});
    trackEdit = MakeNumberEdit(this);
    trackEdit->setMaximumWidth(50);
    trackSpin = new StepSpinCtrl(this);
    trackSpin->SetBuddy(trackEdit);
    trackSpin->SetRange(0, kMaxTrack);
    trackSpin->SetStep(1);
    auto* trackRow = new QHBoxLayout;
    trackRow->addWidget(none);
    trackRow->addWidget(sequence);
    trackRow->addWidget(custom);
    trackRow->addWidget(trackEdit);
    trackRow->addWidget(trackSpin);
    trackRow->addStretch();
    auto* trackLabel = new QLabel(QStringLiteral("&Track #:"), this);
    trackLabel->setBuddy(none);
    grid->addWidget(trackLabel, row, 0);
    grid->addLayout(trackRow, row, 1);
    ++row;

    titleEdit = new QLineEdit(this);
    addRow("T&itle:", titleEdit);
    titleAsFileName = new QCheckBox(QStringLiteral("Titl&e from the file name (without its extension)"), this);
    grid->addWidget(titleAsFileName, row++, 1);
    artistEdit = new QLineEdit(this);
    addRow("&Artist:", artistEdit);
    albumEdit = new QLineEdit(this);
    addRow("Albu&m:", albumEdit);
    yearEdit = new QLineEdit(this);
    addRow("&Year:", yearEdit);

    // Genre: an editable list of the genre names, sorted; any typed text is kept as it is.
    genreList = new QComboBox(this);
    genreList->setEditable(true);
    genreList->setInsertPolicy(QComboBox::NoInsert);
    genreList->setCompleter(nullptr);
    QStringList genres;
    for (const char* name : kGenreNames) genres << QString::fromUtf8(name);
    std::sort(genres.begin(), genres.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    genreList->addItems(genres);
    addRow("&Genre:", genreList);

    commentEdit = new QLineEdit(this);
    addRow("&Comment:", commentEdit);
    composerEdit = new QLineEdit(this);
    addRow("C&omposer:", composerEdit);
    copyrightEdit = new QLineEdit(this);
    copyrightLabel = addRow("Co&pyright:", copyrightEdit);
    copyrightLabel->setVisible(showCopyright);
    copyrightEdit->setVisible(showCopyright);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TagEditDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TagEditDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    // Show the copy.
    ShowRadio(trackGroup, tags_.TrackNumType);
    ShowIntEdit(trackEdit, tags_.CustomTrackNum);
    titleEdit->setText(Text(tags_.Title));
    ShowCheck(titleAsFileName, tags_.TitleAsFileName);
    artistEdit->setText(Text(tags_.Artist));
    albumEdit->setText(Text(tags_.Album));
    yearEdit->setText(Text(tags_.Year));
    genreList->setCurrentIndex(-1);
    genreList->setEditText(Text(tags_.Genre));
    commentEdit->setText(Text(tags_.Comment));
    composerEdit->setText(Text(tags_.Composer));
    copyrightEdit->setText(Text(tags_.Copyright));
    titleEdit->setEnabled(tags_.TitleAsFileName == 0);
    UpdateTrackEnabled();

    connect(titleAsFileName, &QCheckBox::clicked, this, [this](bool checked) {
        titleEdit->setEnabled(!checked);
        if (!checked) titleEdit->setFocus();
    });
    connect(trackGroup, &QButtonGroup::idClicked, this, [this](int id) {
        UpdateTrackEnabled();
        if (id == kCustomTrack) trackEdit->setFocus();
    });
}

void TagEditDialog::UpdateTrackEnabled() {
    const bool custom = trackGroup->checkedId() == kCustomTrack;
    trackEdit->setEnabled(custom);
    trackSpin->setEnabled(custom);
}

void TagEditDialog::accept() {
    TagSettings read = tags_;
    ReadRadio(trackGroup, read.TrackNumType);
    PageRefusal refusal;
    int32_t number = read.CustomTrackNum;
    if (!ReadIntEdit(trackEdit, number, &refusal)) {
        // Empty or not a number.
    } else if (trackEdit->isEnabled() && (number < 0 || number > kMaxTrack)) {
        refusal.message = QStringLiteral("Please enter an integer between %1 and %2.").arg(0).arg(kMaxTrack);
        refusal.focus = trackEdit;
    }
    if (refusal.focus) {
        if (hooks_.message) hooks_.message(this, refusal.message, QMessageBox::Warning);
        trackEdit->setFocus();
        trackEdit->selectAll();
        return;
    }
    read.CustomTrackNum = number;
    read.Title = Std(titleEdit->text());
    ReadCheck(titleAsFileName, read.TitleAsFileName);
    read.Artist = Std(artistEdit->text());
    read.Album = Std(albumEdit->text());
    read.Year = Std(yearEdit->text());
    read.Genre = Std(genreList->currentText());
    read.Comment = Std(commentEdit->text());
    read.Composer = Std(composerEdit->text());
    read.Copyright = Std(copyrightEdit->text());
    tags_ = read;
    QDialog::accept();
}

}  // namespace pelloran
