// Commands of the main window: menus, keys, the conversion run, help, options, addresses.

#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QShortcut>
#include <QtWidgets/QApplication>

#include "app/ConversionRun.h"
#include "platform/Paths.h"
#include "app/Progress.h"
#include "gui/Addresses.h"
#include "gui/window/HelpWindow.h"
#include "gui/window/MainDialog.h"
#include "gui/window/MainDialogRun.h"
#include "gui/window/MirrorDialog.h"
#include "gui/window/Notification.h"
#include "gui/window/RunTally.h"
#include "gui/window/ProgressDialogs.h"
#include "gui/window/SortListCtrl.h"
#include "gui/controls/AboutBox.h"
#include "gui/controls/SkinButton.h"
#include "gui/controls/VardelMenu.h"

#include "gui/options/OptionsHooks.h"
#include "gui/options/OptionsSheet.h"
#include "platform/SoundFont.h"

namespace pelloran {

namespace {

// Menu 129: the list's context menu and the help menu.
const std::vector<PopupTemplate> kMainMenu = {
    {"List",
     {{MainDialog::kCmdPlaySource, "&Play Source"},
      {MainDialog::kCmdPlayDestination, "Play &Destination"},
      {0, nullptr},
      {MainDialog::kCmdConvertSelected, "&Convert Selected"},
      {MainDialog::kCmdConvertAll, "Convert All"},
      {MainDialog::kCmdAnalyseLoudness, "Analyse Lo&udness"},
      {0, nullptr},
      {MainDialog::kCmdBrowseSource, "Browse &Source Folder"},
      {MainDialog::kCmdBrowseDestination, "Browse Destination &Folder"},
      {0, nullptr},
      {MainDialog::kCmdAddFiles, "&Add Files...\tCtrl+O"},
      {MainDialog::kCmdAddFolder, "Add F&older"},
      {MainDialog::kCmdMirror, "&Mirror a Folder..."},
      {MainDialog::kCmdRemove, "&Remove\tDel"},
      {MainDialog::kCmdRemoveAll, "Remove Al&l"}}},
    {"Help",
     {{MainDialog::kCmdHelpTopics, "&Help Topics\tF1"},
      {0, nullptr},
      {MainDialog::kCmdTellFriend, "&Tell A Friend"},
      {MainDialog::kCmdFeedback, "&Feedback and Support"},
      {MainDialog::kCmdHomepage, "Home&page"},
      {MainDialog::kCmdCheckVersion, "&Check Latest Version"},
      {0, nullptr},
      {MainDialog::kCmdAbout, "&About..."}}},
};

// Commands of the toolbar picture, in the order of its images.
const std::vector<int> kToolbarCommands = {
    MainDialog::kCmdPlaySource,      MainDialog::kCmdPlayDestination, MainDialog::kCmdConvertSelected,
    MainDialog::kCmdConvertAll,      MainDialog::kCmdBrowseSource,    MainDialog::kCmdBrowseDestination,
    MainDialog::kCmdAddFiles,        MainDialog::kCmdAddFolder,       MainDialog::kCmdRemove,
    MainDialog::kCmdRemoveAll,       MainDialog::kCmdHelpTopics,      MainDialog::kCmdTellFriend,
    MainDialog::kCmdFeedback,        MainDialog::kCmdHomepage,        MainDialog::kCmdCheckVersion,
    MainDialog::kCmdAbout,
};

}  // namespace

void MainDialog::CreateMenus() {
    menu_ = std::make_unique<VardelMenu>();
    menu_->LoadMenu(kMainMenu);
    menu_->LoadToolbar(QImage(QStringLiteral(":/images/toolbar.png")), kToolbarCommands,
                       QImage(QStringLiteral(":/images/toolbar@2x.png")));
    connect(menu_.get(), &VardelMenu::CommandTriggered, this, &MainDialog::OnCommand);
    connect(contextMenu(), &QMenu::aboutToShow, this, &MainDialog::EnableContextMenuItems);
}

VardelMenu* MainDialog::contextMenu() const { return menu_->GetSubMenu(0); }
VardelMenu* MainDialog::helpMenu() const { return menu_->GetSubMenu(1); }

void MainDialog::CreateShortcuts() {
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), kCmdAddFiles},
        {QKeySequence(Qt::Key_Delete), kCmdRemove},
        {QKeySequence(Qt::CTRL | Qt::Key_A), kCmdSelectAll},
        {QKeySequence(Qt::Key_F1), kCmdHelpTopics},
    };
    for (const auto& [key, id] : keys) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this, id = id] { OnCommand(id); });
        shortcuts_.push_back(shortcut);
    }
}

void MainDialog::EnableContextMenuItems() {
    const int rows = list_->RowCount();
    const std::vector<FileRow*> selected = list_->SelectedRows();
    const bool one = selected.size() == 1;
    const bool converted = one && !selected.front()->item().targetPath.empty();
    const auto enable = [this](int id, bool on) {
        if (QAction* action = menu_->ActionFor(id)) action->setEnabled(on);
    };
    enable(kCmdRemoveAll, rows > 0);
    enable(kCmdConvertAll, rows > 0);
    enable(kCmdAnalyseLoudness, rows > 0);
    enable(kCmdRemove, !selected.empty());
    enable(kCmdConvertSelected, !selected.empty());
    enable(kCmdPlaySource, one);
    enable(kCmdBrowseSource, one);
    enable(kCmdPlayDestination, converted);
    enable(kCmdBrowseDestination, converted);
}

void MainDialog::ShowContextMenu(const QPoint& globalPos) {
    if (busy_) return;
    contextMenu()->popup(globalPos);
}

FileRow* MainDialog::FirstSelectedRow() const {
    const std::vector<FileRow*> rows = list_->SelectedRows();
    return rows.empty() ? nullptr : rows.front();
}

void MainDialog::OnCommand(int id) {
    if (busy_) return;  // the window takes no commands while it adds or converts
    switch (id) {
        case kCmdAddFiles: OpenFilesDialog(); break;
        case kCmdAddFolder: BrowseForFolder(); break;
        case kCmdRemoveAll: RemoveAll(); break;
        case kCmdRemove: Remove(); break;
        case kCmdConvertAll: ConvertAll(); break;
        case kCmdConvertSelected: ConvertSelected(); break;
        case kCmdAnalyseLoudness: AnalyseLoudness(); break;
        case kCmdPlaySource:
        case kCmdPlayDestination:
        case kCmdBrowseSource:
        case kCmdBrowseDestination: OpenRowFile(id); break;
        case kCmdSelectAll: list_->selectAll(); break;
        case kCmdOptions: ShowOptions(); break;
        case kCmdMirror: ShowMirror(); break;
        case kCmdHelpMenu:
            if (CSkinButton* help = button(kCmdHelpMenu)) helpMenu()->popup(help->mapToGlobal(help->rect().bottomLeft()));
            break;
        case kCmdHelpTopics: ShowHelpTopics(); break;
        case kCmdTellFriend: OpenAddress(kTellFriendMail); break;
        case kCmdFeedback: OpenAddress(kSupportMail); break;
        case kCmdHomepage: OpenAddress(kWebSite); break;
        case kCmdCheckVersion: OpenAddress(kCheckUpdatesAddress); break;
        case kCmdAbout: ShowAbout(); break;
        case kCmdMinimize: showMinimized(); break;
        case kCmdMaximize: ToggleMaximized(); break;
        case kCmdClose: close(); break;
        default: break;  // kCmdNothing
    }
}

void MainDialog::OpenAddress(const char* address) { shell_.open(address); }

void MainDialog::OpenRowFile(int id) {
    const FileRow* row = FirstSelectedRow();
    if (row == nullptr) return;
    const bool destination = id == kCmdPlayDestination || id == kCmdBrowseDestination;
    const std::string& path = destination ? row->item().targetPath : row->item().sourcePath;
    if (path.empty()) return;
    const QString shown = QString::fromStdString(path);
    if (!FileExists(path)) {
        ShowMessage(this, QMessageBox::Warning,
                    QStringLiteral("\"%1\" no longer exists. It was moved, renamed or deleted after it was %2.")
                        .arg(shown, destination ? QStringLiteral("converted") : QStringLiteral("added")));
        return;
    }
    const bool play = id == kCmdPlaySource || id == kCmdPlayDestination;
    const bool started = play ? shell_.open(path) : shell_.showInFileManager(path);
    if (!started) {
        ShowMessage(this, QMessageBox::Warning,
                    play ? QStringLiteral("No program could open \"%1\". Set a program for this kind of file in "
                                          "the desktop's settings.")
                               .arg(shown)
                         : QStringLiteral("No file manager could show the folder of \"%1\".").arg(shown));
    }
}

void MainDialog::ConvertAll() {
    if (list_->RowCount() == 0) {
        ShowMessage(this, QMessageBox::Information, QStringLiteral("The list is empty. Add files first."));
        return;
    }
    // Rows converted since the window opened, to this format, whose output is still there are not converted
    // again (after a Cancel, Convert goes on with the rest); Convert Selected converts them again.
    std::vector<FileRow*> rows;
    for (FileRow* row : list_->AllRows()) {
        if (row->convertedFormat == settings_.OutputFormat && !row->convertedTarget.empty() &&
            FileExists(row->convertedTarget)) {
            row->setText(SortListCtrl::kColStatus,
                         QStringLiteral("Converted already: ") + QString::fromStdString(FileNamePart(row->convertedTarget)));
        } else {
            rows.push_back(row);
        }
    }
    if (rows.empty()) {
        ShowMessage(this, QMessageBox::Information,
                    QStringLiteral("Every file in the list is converted already. To convert files again, select "
                                   "them and use Convert Selected."));
        return;
    }
    StartRun(rows);
}

void MainDialog::ConvertSelected() {
    const std::vector<FileRow*> rows = list_->SelectedRows();
    if (rows.empty()) {
        ShowMessage(this, QMessageBox::Information, QStringLiteral("Select at least one file."));
        return;
    }
    StartRun(rows);
}

void MainDialog::StartRun(const std::vector<FileRow*>& rows) {
    SetBusy(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    runRows_ = rows;
    runFormat_ = settings_.OutputFormat;
    auto* dialog = new ConversionProgressDialog(this);
    runDialog_ = dialog;
    runProgress_ = std::make_unique<RunProgress>(dialog);
    runObserver_ = std::make_unique<RunObserverImpl>(this);
    runTally_ = std::make_unique<RunTally>(rows.size());
    runClock_.start();

    std::vector<FileItem*> items;
    for (FileRow* row : rows) items.push_back(&row->item());
    RunOptions options;
    options.jobs = std::clamp(settings_.ParallelJobs, 1, 64);
    options.ensureSoundFont = [this] {
        if (!soundFontReady_) soundFontReady_ = LoadDefaultSoundFont();
        return soundFontReady_.load();
    };
    worker_.Start([this, items, options, settings = settings_]() mutable {
        const RunSummary summary = ::pelloran::RunConversion(items, settings, *runProgress_, *runObserver_, options);
        PostToGui(this, [this, summary] { FinishRun(summary); });
    });
}

void MainDialog::ShowEntryStatus(size_t index, const QString& text, bool starting) {
    if (index >= runRows_.size()) return;
    runRows_[index]->setText(SortListCtrl::kColStatus, text);
    runRows_[index]->runningText = starting ? text : QString();
    // A long status (a failure's reason) is read whole in its tip, however narrow the column.
    runRows_[index]->setToolTip(SortListCtrl::kColStatus, text);
    if (starting && runTally_) {
        runTally_->Started(index);
        ShowRunProgress();
    }
}

void MainDialog::ShowEntryProgress(size_t index, double fraction) {
    if (!runTally_) return;
    runTally_->Progress(index, fraction);
    // Each running row shows its own percentage.
    if (index < runRows_.size() && !runRows_[index]->runningText.isEmpty()) {
        const int percent = std::clamp(static_cast<int>(fraction * 100), 0, 100);
        runRows_[index]->setText(SortListCtrl::kColStatus,
                                 QStringLiteral("%1 %2%").arg(runRows_[index]->runningText).arg(percent));
    }
    ShowRunProgress();
}

void MainDialog::ShowEntryFinished(size_t index, const std::string& target) {
    if (index >= runRows_.size() || !runTally_) return;
    // The Status cell names the output file; its tip gives the whole path, wherever it went (a failure's tip
    // keeps its status).
    if (!target.empty()) {
        runRows_[index]->setToolTip(SortListCtrl::kColStatus, QString::fromStdString(target));
        runRows_[index]->convertedTarget = target;
        runRows_[index]->convertedFormat = runFormat_;
    }
    runRows_[index]->runningText.clear();
    runTally_->Finished(index);
    ShowRunProgress();
}

void MainDialog::ShowRunProgress() {
    if (!runDialog_ || !runTally_) return;
    runDialog_->SetRunFraction(runTally_->Overall());
    const std::optional<size_t> lead = runTally_->Lead();
    if (!lead || *lead >= runRows_.size()) return;
    const double fraction = runTally_->Fraction(*lead);
    const int percent = static_cast<int>(fraction * 100);
    QString text = QString::fromStdString(
        FileStepText({FileStage::Converting, RowName(runRows_[*lead]->item()), percent}));
    if (runTally_->Running() > 1) text += QStringLiteral(" (and %1 more)").arg(runTally_->Running() - 1);
    runDialog_->SetFileText(text);
    runDialog_->SetFileBar(static_cast<int>(fraction * runDialog_->FileBarWidth()));
}

bool MainDialog::UserIsElsewhere() const {
    // Our own dialogs (the progress window) count as this window.
    for (const QWidget* w = QApplication::activeWindow(); w != nullptr; w = w->parentWidget()) {
        if (w == this) return false;
    }
    return true;
}

void MainDialog::FinishRun(const RunSummary& summary) {
    const bool away = shell_.userAway && shell_.userAway();
    worker_.Join();
    if (runDialog_) runDialog_->Finish();
    runDialog_ = nullptr;
    runProgress_.reset();
    runObserver_.reset();
    runTally_.reset();
    runRows_.clear();
    QApplication::restoreOverrideCursor();
    SetBusy(false);
    // A long run tells the desktop how it ended when the user is elsewhere.
    if (runClock_.elapsed() >= notifyAfterMs_ && away && !summary.aborted && shell_.notify) {
        shell_.notify(summary.cancelled ? QStringLiteral("Conversion cancelled") : QStringLiteral("Conversion finished"),
                      RunNotificationBody(summary.succeeded, summary.failed));
    }
    emit RunFinished();
    if (closeWhenIdle_) close();
    else AfterWork();
}

void MainDialog::ShowHelpTopics() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == this || w->windowTitle() != QLatin1String(kHelpTitle) || !w->isVisible()) continue;
        if (w->isMinimized()) w->showNormal();
        w->raise();
        w->activateWindow();
        return;
    }
    auto* help = new HelpWindow;
    help->show();
}

void MainDialog::ShowAbout() {
    auto* about = new AboutBox(this, [this](const QString& address) { return shell_.open(address.toStdString()); });
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void MainDialog::ShowOptions() {
    // The sheet opens folders and addresses the way the window does.
    OptionsHooks hooks = OptionsHooks::Desktop();
    hooks.open = [this](const QString& target) { shell_.open(target.toStdString()); };
    if (ShowOptionsSheet(this, settings_, store_, hooks)) RebuildExtensionFilter(settings_);
}

void MainDialog::ShowMirror() {
    // In the output format chosen now, with the options as they are; the list is not touched.
    auto* dialog = new MirrorDialog(settings_, std::clamp(settings_.ParallelJobs, 1, 64), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

}  // namespace pelloran
