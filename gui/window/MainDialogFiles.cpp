// The file list of the main window: Add Files, Add Folder, dropped files, adding, removing.

#include <QtWidgets/QFileDialog>

#include <algorithm>
#include <thread>

#include "app/AddFiles.h"
#include "frontend/Wording.h"
#include "platform/Paths.h"
#include "gui/Addresses.h"
#include "gui/window/MainDialog.h"
#include "gui/window/ProgressDialogs.h"
#include "gui/window/SortListCtrl.h"

namespace pelloran {

namespace {

// "All Files" comes first and is chosen: files without an extension are common here.
const char* const kAllFilesFilter = "All Files (*)";

// Reports of an addition list this many paths, then a line saying there are more.
constexpr int kMaxReportedPaths = 30;

// Files probed at once: every processor.
int ProbeJobs() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

}  // namespace

struct MainDialog::AddJob {
    std::vector<AddPath> paths;
    bool searching = false;  // folders to scan: the dialog says so first
};

QStringList OpenFileFilters() {
    // Made from the kinds of files the readers take: every extension together, then each kind.
    QStringList kinds;
    QStringList all;
    for (size_t i = 0; i < kSourceFileKindCount; ++i) {
        QStringList patterns;
        for (const QString& ext : QString::fromUtf8(kSourceFileKinds[i].extensions).split(' ', Qt::SkipEmptyParts))
            patterns << QStringLiteral("*.") + ext;
        all << patterns;
        kinds << QString::fromUtf8(kSourceFileKinds[i].name) + " (" + patterns.join(' ') + ")";
    }
    all.removeDuplicates();
    return QStringList{QString::fromUtf8(kAllFilesFilter), "All audio files (" + all.join(' ') + ")"} + kinds;
}

void MainDialog::OpenFilesDialog() {
    auto* dialog = new QFileDialog(this, QStringLiteral("Open"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(OpenFileFilters());
    dialog->selectNameFilter(QString::fromUtf8(kAllFilesFilter));
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList& files) {
        std::vector<std::string> paths;
        for (const QString& f : files) paths.push_back(f.toStdString());
        if (!paths.empty()) AddPaths(std::move(paths));
    });
    dialog->open();
}

void MainDialog::BrowseForFolder() {
    auto* dialog = new QFileDialog(this, QStringLiteral("Please choose a folder:"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    std::string start = settings_.Folder;
    while (start.size() > 1 && start.back() == '/') start.pop_back();
    if (!start.empty() && IsFolder(start)) dialog->setDirectory(QString::fromStdString(start));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) AddFolder(folder.toStdString());
    });
    dialog->open();
}

void MainDialog::AddFolder(const std::string& chosen) {
    if (busy_) return;
    std::string folder = chosen;
    if (folder.empty() || folder.back() != '/') folder += '/';
    settings_.Folder = folder;
    RegistryStore fresh;
    fresh.Load(store_.path());
    SaveSettings(settings_, kSaveFolderGroup, fresh);
    if (fresh.Commit()) store_ = fresh;

    auto job = std::make_shared<AddJob>();
    job->paths.push_back({folder, AddPath::Kind::Folder});
    job->searching = true;
    StartAdding(job);
}

void MainDialog::AddPaths(std::vector<std::string> paths) {
    if (busy_) return;
    auto job = std::make_shared<AddJob>();
    for (auto& path : paths) job->paths.push_back({std::move(path), AddPath::Kind::File});
    StartAdding(job);
}

void MainDialog::AddDroppedPaths(std::vector<std::string> paths) {
    if (busy_) return;
    auto job = std::make_shared<AddJob>();
    for (auto& path : paths) job->paths.push_back({std::move(path), AddPath::Kind::Dropped});
    job->searching = !job->paths.empty();
    StartAdding(job);
}

void MainDialog::OpenPaths(std::vector<std::string> paths) {
    if (busy_) {
        for (auto& path : paths) pendingPaths_.push_back(std::move(path));
        return;
    }
    auto job = std::make_shared<AddJob>();
    for (auto& path : paths) {
        const bool folder = IsFolder(path);
        job->searching |= folder;
        job->paths.push_back({std::move(path), folder ? AddPath::Kind::Folder : AddPath::Kind::File});
    }
    if (!job->paths.empty()) StartAdding(job);
}

void MainDialog::AfterWork() {
    if (busy_ || pendingPaths_.empty()) return;
    std::vector<std::string> paths;
    paths.swap(pendingPaths_);
    OpenPaths(std::move(paths));
}

void MainDialog::StartAdding(std::shared_ptr<AddJob> job) {
    SetBusy(true);
    failureNote_.clear();
    AddProgressDialog* dialog = new AddProgressDialog(this);
    addDialog_ = dialog;
    dialog->SetText(job->searching ? QStringLiteral("Searching files...") : QString());
    dialog->Present();

    // The worker works on copies: the filter settings, and the paths already listed for the duplicate check.
    worker_.Start([this, job, dialog, filter = settings_, seen = listed_.files()]() mutable {
        std::string failureText;
        std::string note;
        int failures = 0;
        AddFilesEvents events;
        events.cancelled = [dialog] { return dialog->CancelRequested(); };
        size_t total = 0;
        events.found = [dialog, &total](size_t found) {
            total = found;
            const int count = static_cast<int>(found);
            if (count > 0) PostToGui(dialog, [dialog, count] { dialog->SetRange(count); });
        };
        events.ready = [&](size_t index, const AddedFile& file) {
            const int i = static_cast<int>(index);
            const int count = static_cast<int>(total);
            PostToGui(dialog, [dialog, i, count] {
                dialog->SetText(QStringLiteral("Adding file %1 of %2...").arg(i + 1).arg(count));
                dialog->Step();
            });
            if (file.probe.ok) {
                PostToGui(this, [this, item = file.probe.item] {
                    if (listed_.Insert(item)) AddRow(std::make_unique<FileItem>(item));
                });
                return;
            }
            if (note.empty() && !file.probe.note.empty()) note = NoteText(file.probe.note);  // the first reason
            if (failures < kMaxReportedPaths) failureText += file.path + "\n";
            else if (failures == kMaxReportedPaths) failureText += "<more files>...\n";
            ++failures;
        };
        AddFilesOptions options;
        options.jobs = ProbeJobs();
        // A folder gives its media files, as in pelloran-cli: an album's cover, cue sheet and log, and hidden
        // files, are not failures. Files named one by one are all tried and reported.
        options.scan.knownOnly = true;
        options.scan.skipHidden = true;
        // Outputs of earlier runs inside a folder added are not sources.
        if (filter.DestOutputFolderOpt == kOutputIntoFolder) options.scan.excludeFolder = filter.DestSpecifiedFolder;
        AddFiles(job->paths, filter, seen, options, events);
        PostToGui(this, [this, failureText, note] { FinishAdding(failureText, note); });
    });
}

void MainDialog::FinishAdding(const std::string& failureText, const std::string& note) {
    worker_.Join();
    if (addDialog_) addDialog_->Finish();
    addDialog_ = nullptr;
    SetBusy(false);
    if (!note.empty()) failureNote_ = note;
    if (!failureText.empty()) {
        const std::string tail = failureNote_.empty() ? std::string(kSupportLine) : failureNote_;
        ShowMessage(this, QMessageBox::Warning,
                    QString::fromStdString("Failed to load the following files.\n\n" + failureText + "\n" + tail));
    }
    emit AddingFinished();
    if (closeWhenIdle_) close();
    else AfterWork();
}

MainDialog::AddResult MainDialog::AddFileToList(const std::string& path) {
    if (listed_.Contains(path)) return AddResult::Duplicate;
    ProbeOutcome outcome = ProbeFile(path);
    if (!outcome.ok) {
        if (!outcome.note.empty()) failureNote_ = NoteText(outcome.note);
        return AddResult::Refused;
    }
    listed_.Insert(outcome.item);
    AddRow(std::make_unique<FileItem>(outcome.item));
    return AddResult::Added;
}

int MainDialog::AddRow(std::unique_ptr<FileItem> item) {
    const FileItem& entry = *item;
    auto* row = new FileRow(std::move(item));
    // A track of an album shows its number and title; its tip names the album's file.
    row->setText(SortListCtrl::kColFile, QString::fromStdString(RowName(entry)));
    row->setText(SortListCtrl::kColDuration, QString::fromStdString(DurationText(entry.durationSeconds)));
    row->setText(SortListCtrl::kColBitRate, QString::fromStdString(BitRateText(entry.bitrateKbps)));
    row->setText(SortListCtrl::kColFreq, QString::fromStdString(FrequencyText(entry.sampleRate)));
    row->setText(SortListCtrl::kColChannels, QString::fromStdString(ChannelsText(entry)));
    for (int column : {SortListCtrl::kColDuration, SortListCtrl::kColBitRate, SortListCtrl::kColFreq})
        row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    row->setToolTip(SortListCtrl::kColFile, QString::fromStdString(entry.sourcePath));
    list_->addTopLevelItem(row);
    list_->scrollToItem(row);
    return list_->indexOfTopLevelItem(row);
}

void MainDialog::Remove() {
    const std::vector<FileRow*> rows = list_->SelectedRows();
    if (rows.empty()) {
        ShowMessage(this, QMessageBox::Information, QStringLiteral("Select at least one file."));
        return;
    }
    for (FileRow* row : rows) {
        listed_.Erase(row->item());
        delete row;
    }
}

void MainDialog::RemoveAll() {
    if (list_->RowCount() == 0) {
        ShowMessage(this, QMessageBox::Information, QStringLiteral("The list is empty. Add files first."));
        return;
    }
    list_->clear();
    listed_.Clear();
    ShowLoudnessColumn(false);
}

}  // namespace pelloran
