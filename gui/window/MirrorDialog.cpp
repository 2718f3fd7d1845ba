#include "gui/window/MirrorDialog.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeWidget>
#include <QtWidgets/QVBoxLayout>

#include "formats/OutputFormat.h"

namespace pelloran {

namespace {

QString ChangeText(MirrorChange change) {
    switch (change) {
        case MirrorChange::New: return QStringLiteral("New");
        case MirrorChange::Changed: return QStringLiteral("Changed");
        case MirrorChange::Copy: return QStringLiteral("Copy as is");
        case MirrorChange::Remove: return QStringLiteral("Remove");
        case MirrorChange::Blocked: return QStringLiteral("Left alone");
    }
    return {};
}

QString FormatLabel(int32_t code) {
    const std::vector<FormatListRow> rows = FormatListRows();
    const int index = FormatListRowIndex(code);
    return index < 0 ? QString::fromStdString(OutputFormatName(code)) : QString::fromStdString(rows[index].label);
}

}  // namespace

MirrorDialog::MirrorDialog(const ConvertSettings& settings, int jobs, QWidget* parent)
    : QDialog(parent), settings_(settings), jobs_(jobs) {
    setWindowTitle(QStringLiteral("Mirror a Folder"));
    auto* form = new QFormLayout;
    const auto folderRow = [this, form](const QString& label, QLineEdit*& edit, const QString& title) {
        edit = new QLineEdit(this);
        auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(browse);
        auto* caption = new QLabel(label, this);
        caption->setBuddy(edit);
        form->addRow(caption, row);
        connect(browse, &QPushButton::clicked, this, [this, edit, title] { Browse(edit, title); });
        connect(edit, &QLineEdit::textChanged, this, &MirrorDialog::Invalidate);
    };
    folderRow(QStringLiteral("&Source folder:"), source_, QStringLiteral("Folder to mirror"));
    folderRow(QStringLiteral("&Mirror folder:"), mirror_, QStringLiteral("Folder that holds the converted copy"));
    form->addRow(QStringLiteral("Output format:"), new QLabel(FormatLabel(settings_.OutputFormat), this));
    prune_ = new QCheckBox(QStringLiteral("&Remove converted files whose source is gone"), this);
    form->addRow(QString(), prune_);
    connect(prune_, &QCheckBox::toggled, this, &MirrorDialog::Invalidate);

    summary_ = new QLabel(QStringLiteral("Choose both folders, then Preview shows what mirroring would do."), this);
    summary_->setWordWrap(true);
    steps_ = new QTreeWidget(this);
    steps_->setColumnCount(3);
    steps_->setHeaderLabels({QStringLiteral("Change"), QStringLiteral("File"), QStringLiteral("Result")});
    steps_->setRootIsDecorated(false);
    steps_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    steps_->header()->setStretchLastSection(false);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 1000);
    bar_->setValue(0);
    bar_->hide();

    auto* buttons = new QDialogButtonBox(this);
    previewButton_ = buttons->addButton(QStringLiteral("&Preview"), QDialogButtonBox::ActionRole);
    mirrorButton_ = buttons->addButton(QStringLiteral("Mirro&r"), QDialogButtonBox::AcceptRole);
    cancelButton_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    closeButton_ = buttons->addButton(QDialogButtonBox::Close);
    mirrorButton_->setEnabled(false);
    cancelButton_->hide();
    connect(previewButton_, &QPushButton::clicked, this, &MirrorDialog::Preview);
    connect(mirrorButton_, &QPushButton::clicked, this, &MirrorDialog::Mirror);
    connect(cancelButton_, &QPushButton::clicked, this, &MirrorDialog::Cancel);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(summary_);
    layout->addWidget(steps_, 1);
    layout->addWidget(bar_);
    layout->addWidget(buttons);
    // Roomy where the screen has room, within it where it has not.
    QSize size(560, 420);
    if (const QScreen* shown = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(shown->availableGeometry().size());
    resize(size.expandedTo(minimumSizeHint()));
}

MirrorDialog::~MirrorDialog() {
    cancel_ = true;
    worker_.Join();
}

void MirrorDialog::SetFolders(const QString& source, const QString& mirror) {
    source_->setText(source);
    mirror_->setText(mirror);
}

void MirrorDialog::Browse(QLineEdit* edit, const QString& title) {
    const QString folder = QFileDialog::getExistingDirectory(this, title, edit->text());
    if (!folder.isEmpty()) edit->setText(folder);
}

void MirrorDialog::Invalidate() {
    // A plan shown for other folders or options is not the one Mirror would run.
    if (running_) return;
    preview_.reset();
    mirrorButton_->setEnabled(false);
}

void MirrorDialog::Preview() {
    if (running_ || planning_) return;
    const std::string source = source_->text().trimmed().toStdString();
    const std::string mirror = mirror_->text().trimmed().toStdString();
    if (source.empty() || mirror.empty()) {
        summary_->setText(QStringLiteral("Choose the folder to mirror and the folder for its converted copy."));
        return;
    }
    planning_ = true;
    previewButton_->setEnabled(false);
    summary_->setText(QStringLiteral("Looking through the folders..."));
    cancel_ = false;
    worker_.Start([this, source, mirror, prune = prune_->isChecked()] {
        auto preview = std::make_shared<MirrorPreview>();
        const bool ok = PreviewMirror(source, mirror, settings_, prune, *preview, [this] { return cancel_.load(); });
        PostToGui(this, [this, preview, ok] { ShowPreview(preview, ok); });
    });
}

void MirrorDialog::ShowPreview(std::shared_ptr<MirrorPreview> preview, bool ok) {
    worker_.Join();
    planning_ = false;
    previewButton_->setEnabled(true);
    bar_->hide();
    steps_->clear();
    if (!ok) {
        summary_->setText(QStringLiteral("The mirror folder cannot be the folder to mirror or hold it."));
        emit PreviewShown();
        return;
    }
    for (size_t i = 0; i < preview->plan.steps.size(); ++i) {
        const MirrorStep& step = preview->plan.steps[i];
        const std::string& shown = step.action == MirrorAction::Prune && !step.target.empty()
                                       ? step.target.substr(std::min(step.target.size(), preview->mirror.size()))
                                       : step.relSource;
        auto* row = new QTreeWidgetItem(steps_, {ChangeText(preview->changes[i]), QString::fromStdString(shown)});
        row->setToolTip(1, QString::fromStdString(step.action == MirrorAction::Prune ? step.target : step.source));
        if (preview->changes[i] == MirrorChange::Blocked)
            row->setToolTip(0, QStringLiteral("A file the mirror did not make is in the way; it stays as it is."));
    }
    steps_->resizeColumnToContents(0);
    QString text = QStringLiteral("%1 new, %2 changed, %3 up to date, %4 to remove")
                       .arg(preview->added)
                       .arg(preview->changed)
                       .arg(preview->plan.upToDate)
                       .arg(preview->removals);
    if (preview->copies > 0) text += QStringLiteral(", %1 to copy as they are").arg(preview->copies);
    if (preview->blocked > 0) text += QStringLiteral(", %1 left alone").arg(preview->blocked);
    if (preview->plan.goneKept > 0)
        text += QStringLiteral(". %1 converted files have lost their source; Remove converted files... removes them")
                    .arg(preview->plan.goneKept);
    summary_->setText(text + QLatin1Char('.'));
    const size_t work = preview->plan.steps.size() - preview->blocked;
    preview_ = std::move(preview);
    mirrorButton_->setEnabled(work > 0);
    emit PreviewShown();
}

void MirrorDialog::Mirror() {
    if (running_ || !preview_) return;
    SetRunning(true);
    bar_->setValue(0);
    bar_->show();
    summary_->setText(QStringLiteral("Mirroring..."));
    cancel_ = false;
    worker_.Start([this, preview = preview_] {
        const MirrorOutcome outcome = RunMirrorPreview(
            *preview, jobs_, cancel_,
            [this](size_t step, MirrorStepEnd end) { PostToGui(this, [this, step, end] { ShowStepDone(step, end); }); },
            [this](double fraction) {
                PostToGui(this, [this, fraction] { bar_->setValue(static_cast<int>(fraction * 1000)); });
            });
        PostToGui(this, [this, outcome] { ShowFinished(outcome); });
    });
}

void MirrorDialog::ShowStepDone(size_t step, MirrorStepEnd end) {
    static const char* const kTexts[] = {"Done", "Failed", "Left alone", "Cancelled"};
    if (QTreeWidgetItem* row = steps_->topLevelItem(static_cast<int>(step)))
        row->setText(2, QString::fromUtf8(kTexts[static_cast<int>(end)]));
}

void MirrorDialog::ShowFinished(const MirrorOutcome& outcome) {
    worker_.Join();
    preview_.reset();  // the folders have changed: a new run plans again
    SetRunning(false);
    bar_->setValue(outcome.cancelled ? bar_->value() : bar_->maximum());
    QString text = QStringLiteral("%1: %2 converted, %3 copied, %4 removed, %5 failed")
                       .arg(outcome.cancelled ? QStringLiteral("Cancelled") : QStringLiteral("Mirrored"))
                       .arg(outcome.converted)
                       .arg(outcome.copied)
                       .arg(outcome.removed)
                       .arg(outcome.failed);
    if (outcome.skipped > 0) text += QStringLiteral(", %1 left alone").arg(outcome.skipped);
    text += QLatin1Char('.');
    if (!outcome.manifestWritten)
        text += QStringLiteral(" The mirror's record could not be written: the next run converts these files again.");
    summary_->setText(text);
    emit MirrorFinished();
}

void MirrorDialog::SetRunning(bool running) {
    running_ = running;
    for (QWidget* w : {static_cast<QWidget*>(source_), static_cast<QWidget*>(mirror_),
                       static_cast<QWidget*>(prune_), static_cast<QWidget*>(previewButton_),
                       static_cast<QWidget*>(mirrorButton_), static_cast<QWidget*>(closeButton_)})
        w->setEnabled(!running);
    mirrorButton_->setEnabled(false);
    cancelButton_->setVisible(running);
    cancelButton_->setEnabled(running);
    if (running) cancelButton_->setFocus();
}

void MirrorDialog::Cancel() {
    cancel_ = true;
    cancelButton_->setEnabled(false);
}

void MirrorDialog::reject() {
    // Escape or closing the dialog during a run cancels it first; the dialog stays until the run has stopped.
    if (running_ || planning_) {
        Cancel();
        return;
    }
    QDialog::reject();
}

}  // namespace pelloran
