#include "gui/options/OutputPage.h"

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
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <thread>

#include "app/OutputNaming.h"
#include "frontend/Wording.h"
#include "platform/Paths.h"

namespace pelloran {

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

OutputPage::OutputPage(const ConvertSettings& s, OptionsHooks& hooks, QWidget* parent)
    : OptionsPage(hooks, parent),
      destOutputFolderOpt_(s.DestOutputFolderOpt),
      destSpecifiedFolder_(s.DestSpecifiedFolder),
      createDirs_(s.CreateDirs),
      browseOutputFolder_(s.BrowseOutputFolder),
      monoType_(s.MonoType),
      outputFiles2MyDocuments_(s.OutputFiles2MyDocuments),
      filterExts_(s.FilterExts),
      enableExtFilter_(s.EnableExtFilter),
      targetExistsOpt_(s.TargetExistsOpt),
      parallelJobs_(s.ParallelJobs),
      verifyOutput_(s.VerifyOutput),
      outputNamePattern_(s.OutputNamePattern) {}

QString OutputPage::NormaliseExtensions(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == u' ' || c == u'\t') continue;
        out += c == u';' ? QChar(u',') : c;
    }
    return out;
}

void OutputPage::Initialise() {
    auto* layout = new QVBoxLayout(this);

    // Stereo to mono.
    auto* monoBox = new QGroupBox(this);
    auto* monoLayout = new QGridLayout(monoBox);
    auto* monoText = new QLabel(
        QStringLiteral("When converting to audio format, e.g. MP3, WAV, WMA, etc., if output channel is mono and "
                       "original file is stereo, output sound equals to:"),
        monoBox);
    monoText->setWordWrap(true);
    auto* mix = new QRadioButton(QStringLiteral("(L+R) / &2"), monoBox);
    auto* left = new QRadioButton(QStringLiteral("&L channel"), monoBox);
    auto* right = new QRadioButton(QStringLiteral("&R channel"), monoBox);
    monoGroup = MakeRadioGroup(monoBox, {mix, left, right});
    monoHelp = new QPushButton(QStringLiteral("?"), monoBox);
    monoHelp->setFixedWidth(24);
    auto* monoRow = new QHBoxLayout;
    monoRow->addWidget(mix);
    monoRow->addWidget(left);
    monoRow->addWidget(right);
    monoRow->addWidget(monoHelp);
    monoRow->addStretch();
    monoLayout->addWidget(monoText, 0, 0);
    monoLayout->addLayout(monoRow, 1, 0);
    layout->addWidget(monoBox);

    // Extension filter.
    auto* filterGroup = new QGroupBox(this);
    auto* filterLayout = new QVBoxLayout(filterGroup);
    filterBox = new QCheckBox(
        QStringLiteral("O&nly add the following file extensions for \"Add Folder\" and Drag/Drop"), filterGroup);
    filterEdit = new QLineEdit(filterGroup);
    auto* filterNote = new QLabel(
        QStringLiteral("Note: use comma (,) to separate multiple extensions. For example: wav,mp3,m4a,aac"),
        filterGroup);
    filterLayout->addWidget(filterBox);
    filterLayout->addWidget(filterEdit);
    filterLayout->addWidget(filterNote);
    layout->addWidget(filterGroup);

    // Output folder.
    auto* folderGroup = new QGroupBox(this);
    auto* grid = new QGridLayout(folderGroup);
    folderList = new QComboBox(folderGroup);
    auto* folderListLabel = new QLabel(QStringLiteral("&Output folder:"), folderGroup);
    folderListLabel->setBuddy(folderList);
    folderEdit = new QLineEdit(folderGroup);
    auto* folderEditLabel = new QLabel(QStringLiteral("Custom &folder:"), folderGroup);
    folderEditLabel->setBuddy(folderEdit);
    browseButton = new QPushButton(QStringLiteral("Bro&wse"), folderGroup);
    openButton = new QPushButton(QStringLiteral("O&pen"), folderGroup);
    createDirsBox = new QCheckBox(QStringLiteral("&Create folders according to path of original file"), folderGroup);
    exampleText = new QLabel(
        QStringLiteral("For example: the original file is \"/home/ana/Music/pop/1.mp3\" and the output folder is "
                       "\"/home/ana/Output\". When the box is checked, the output file goes to "
                       "\"/home/ana/Output/home/ana/Music/pop\"."),
        folderGroup);
    exampleText->setWordWrap(true);
    exampleText->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    existsList = new QComboBox(folderGroup);
    auto* existsLabel = new QLabel(QStringLiteral("If target file &exists "), folderGroup);
    existsLabel->setBuddy(existsList);
    myDocumentsBox = new QCheckBox(QStringLiteral("If the output cannot be made there, use m&y Documents folder"),
                                   folderGroup);
    browseOutputBox = new QCheckBox(QStringLiteral("&Browse output folder when conversion completes"), folderGroup);
    grid->addWidget(folderListLabel, 0, 0);
    grid->addWidget(folderList, 0, 1, 1, 3);
    grid->addWidget(folderEditLabel, 1, 0);
    grid->addWidget(folderEdit, 1, 1);
    grid->addWidget(browseButton, 1, 2);
    grid->addWidget(openButton, 1, 3);
    grid->addWidget(createDirsBox, 2, 1, 1, 3);
    grid->addWidget(exampleText, 3, 1, 1, 3);
    grid->addWidget(existsLabel, 4, 0);
    grid->addWidget(existsList, 4, 1, 1, 3);
    grid->addWidget(myDocumentsBox, 5, 0, 1, 4);
    grid->addWidget(browseOutputBox, 6, 0, 1, 4);
    // Output names from the source's tags; empty keeps the source's name.
    patternEdit = new QLineEdit(folderGroup);
    patternEdit->setPlaceholderText(QStringLiteral("{artist}/{album}/{track:02} - {title}"));
    patternEdit->setToolTip(QStringLiteral(
        "Fields: {title} {artist} {album} {year} {genre} {track} {composer} {stem} {ext} {format} {parent}; "
        "{track:02} pads to two digits; {artist|Unknown Artist} gives a fallback. Empty: the source's name."));
    auto* patternLabel = new QLabel(QStringLiteral("File &name pattern:"), folderGroup);
    patternLabel->setBuddy(patternEdit);
    grid->addWidget(patternLabel, 7, 0);
    grid->addWidget(patternEdit, 7, 1, 1, 3);
    patternExample = new QLabel(folderGroup);
    patternExample->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(patternExample, 8, 1, 1, 3);
    layout->addWidget(folderGroup);

    // Files converted at once.
    auto* jobsRow = new QHBoxLayout;
    jobsSpin = new QSpinBox(this);
    jobsSpin->setRange(1, 64);
    auto* jobsLabel = new QLabel(QStringLiteral("&Simultaneous conversions:"), this);
    jobsLabel->setBuddy(jobsSpin);
    auto* jobsNote = new QLabel(
        QStringLiteral("(this computer has %1 processors)").arg(std::max(1u, std::thread::hardware_concurrency())), this);
    jobsRow->addWidget(jobsLabel);
    jobsRow->addWidget(jobsSpin);
    jobsRow->addWidget(jobsNote);
    jobsRow->addStretch();
    layout->addLayout(jobsRow);
    verifyBox = new QCheckBox(
        QStringLiteral("&Verify each output (decode it again and compare its length with the source's)"), this);
    layout->addWidget(verifyBox);
    layout->addStretch();

    // Lists keep their insertion order; an unknown stored value falls back to the first item.
    AddItem(folderList, QStringLiteral("Same as original file"), kOutputBesideSource);
    AddItem(folderList, QStringLiteral("A custom folder"), kOutputIntoFolder);
    if (!SelectValue(folderList, destOutputFolderOpt_)) {
        folderList->setCurrentIndex(0);
        destOutputFolderOpt_ = kOutputBesideSource;
    }
    AddItem(existsList, QStringLiteral("Auto rename (add number at end of file name)"), kTargetRename);
    AddItem(existsList, QStringLiteral("Overwrite"), kTargetOverwrite);
    AddItem(existsList, QStringLiteral("Skip (not convert)"), kTargetSkip);
    if (!SelectValue(existsList, targetExistsOpt_)) {
        existsList->setCurrentIndex(0);
        targetExistsOpt_ = kTargetRename;
    }
    ShowMembers();
    UpdateFolderEnabled();
    filterEdit->setEnabled(filterBox->isChecked());

    connect(folderList, &QComboBox::activated, this, [this](int) { UpdateFolderEnabled(); });
    connect(patternEdit, &QLineEdit::textChanged, this, [this] { ShowPatternExample(); });
    ShowPatternExample();
    connect(filterBox, &QCheckBox::clicked, this, [this] {
        ReadControls(nullptr);
        filterEdit->setEnabled(filterBox->isChecked());
        if (filterBox->isChecked()) filterEdit->setFocus();
    });
    connect(monoHelp, &QPushButton::clicked, this, [this] {
        Message(QStringLiteral("A stereo source made mono is usually a mix of both channels, (L+R)/2.\n\n"
                               "\"L channel\" keeps only the left channel of the source, \"R channel\" only the right: "
                               "useful to split a stereo recording into one file per channel."),
                QMessageBox::Information);
    });
    connect(browseButton, &QPushButton::clicked, this, [this] { Browse(); });
    connect(openButton, &QPushButton::clicked, this, [this] { OpenFolder(); });
}

void OutputPage::UpdateFolderEnabled() {
    const bool custom = SelectedValue(folderList) == kOutputIntoFolder;
    for (QWidget* w : {static_cast<QWidget*>(folderEdit), static_cast<QWidget*>(browseButton),
                       static_cast<QWidget*>(openButton), static_cast<QWidget*>(createDirsBox),
                       static_cast<QWidget*>(exampleText)})
        w->setEnabled(custom);
}

bool OutputPage::ReadControls(PageRefusal*) {
    ReadRadio(monoGroup, monoType_);
    ReadCheck(filterBox, enableExtFilter_);
    filterExts_ = filterEdit->text().toStdString();
    destSpecifiedFolder_ = folderEdit->text().toStdString();
    ReadCheck(createDirsBox, createDirs_);
    ReadCheck(myDocumentsBox, outputFiles2MyDocuments_);
    ReadCheck(browseOutputBox, browseOutputFolder_);
    parallelJobs_ = jobsSpin->value();
    ReadCheck(verifyBox, verifyOutput_);
    outputNamePattern_ = patternEdit->text().toStdString();
    return true;
}

void OutputPage::ShowMembers() {
    ShowRadio(monoGroup, monoType_);
    ShowCheck(filterBox, enableExtFilter_);
    filterEdit->setText(Text(filterExts_));
    folderEdit->setText(Text(destSpecifiedFolder_));
    ShowCheck(createDirsBox, createDirs_);
    ShowCheck(myDocumentsBox, outputFiles2MyDocuments_);
    ShowCheck(browseOutputBox, browseOutputFolder_);
    jobsSpin->setValue(std::clamp(parallelJobs_, 1, 64));
    ShowCheck(verifyBox, verifyOutput_);
    patternEdit->setText(Text(outputNamePattern_));
}

bool OutputPage::Validate(PageRefusal& refusal) {
    if (auto choice = SelectedValue(folderList)) destOutputFolderOpt_ = *choice;
    if (destOutputFolderOpt_ == kOutputIntoFolder && destSpecifiedFolder_.empty()) {
        refusal.message = QStringLiteral("Please choose an output folder.");
        refusal.focus = folderEdit;
        return false;
    }
    // The edit shows the normalised text too, so that the read that follows keeps it.
    const QString extensions = NormaliseExtensions(Text(filterExts_));
    filterExts_ = extensions.toStdString();
    filterEdit->setText(extensions);
    if (enableExtFilter_ != 0 && extensions.isEmpty()) {
        refusal.message = QStringLiteral("Please enter file extensions you need to filter.");
        refusal.focus = filterEdit;
        return false;
    }
    if (auto policy = SelectedValue(existsList)) targetExistsOpt_ = *policy;
    if (!outputNamePattern_.empty()) {
        FileItem sample;
        sample.sourcePath = "/a/b.wav";
        std::string name;
        Note error;
        if (!ExpandNamePattern(outputNamePattern_, sample, kOutputWav, name, error)) {
            refusal.message = QString::fromStdString("The file name pattern cannot be used: " + NoteText(error) + ".");
            refusal.focus = patternEdit;
            return false;
        }
    }
    return true;
}

void OutputPage::ShowPatternExample() {
    const std::string pattern = patternEdit->text().toStdString();
    if (pattern.empty()) {
        patternExample->setText(QStringLiteral("Example: the source's own name"));
        return;
    }
    // A sample source tagged as a tagger would tag it.
    FileItem sample;
    sample.sourcePath = "/music/Ana Lima/First Light/track01.flac";
    sample.tags.Artist = "Ana Lima";
    sample.tags.Album = "First Light";
    sample.tags.Title = "Intro";
    sample.tags.Track = "1";
    sample.tags.Year = "2024";
    sample.tagsRead = true;
    std::string name;
    Note error;
    patternExample->setText(ExpandNamePattern(pattern, sample, kOutputMp3, name, error)
                                ? QStringLiteral("Example: ") + QString::fromStdString(name) + QStringLiteral(".mp3")
                                : QStringLiteral("Cannot be used: ") + QString::fromStdString(NoteText(error)));
}

void OutputPage::Browse() {
    ReadControls(nullptr);
    QString start = Text(destSpecifiedFolder_);
    while (start.size() > 1 && start.endsWith(u'/')) start.chop(1);
    if (!hooks_.chooseFolder) return;
    QString picked = hooks_.chooseFolder(this, QStringLiteral("Please choose an output folder:"), start);
    if (picked.isEmpty()) return;
    if (!picked.endsWith(u'/')) picked += u'/';
    destSpecifiedFolder_ = picked.toStdString();
    ShowMembers();
}

void OutputPage::OpenFolder() {
    ReadControls(nullptr);
    if (!destSpecifiedFolder_.empty() && IsFolder(destSpecifiedFolder_)) {
        if (hooks_.open) hooks_.open(Text(destSpecifiedFolder_));
        return;
    }
    Message(QStringLiteral("The folder \"%1\" doesn't exist yet.\n\nNote: the program will create the folder "
                           "automatically when converting files.")
                .arg(Text(destSpecifiedFolder_)),
            QMessageBox::Warning);
}

void OutputPage::CopyBack(ConvertSettings& s) const {
    s.DestOutputFolderOpt = destOutputFolderOpt_;
    s.DestSpecifiedFolder = destSpecifiedFolder_;
    s.CreateDirs = createDirs_;
    s.BrowseOutputFolder = browseOutputFolder_;
    s.MonoType = monoType_;
    s.OutputFiles2MyDocuments = outputFiles2MyDocuments_;
    s.FilterExts = filterExts_;
    s.EnableExtFilter = enableExtFilter_;
    s.TargetExistsOpt = targetExistsOpt_;
    s.ParallelJobs = parallelJobs_;
    s.VerifyOutput = verifyOutput_;
    s.OutputNamePattern = outputNamePattern_;
}

}  // namespace pelloran
