#pragma once
// The main window: the file list, the command buttons, the output-format selector, the menus, and the
// commands they run. Adding files, converting and measuring loudness run on a worker thread; the window shows
// their progress.

#include <QtCore/QElapsedTimer>
#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtGui/QPixmap>
#include <QtWidgets/QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ConversionRun.h"
#include "app/FileList.h"
#include "gui/window/GuiBridge.h"
#include "gui/window/ListedFiles.h"
#include "gui/window/ProgressDialogs.h"
#include "platform/Loudness.h"
#include "platform/registry.h"
#include "formats/SettingsTable.h"

class QComboBox;
class QShortcut;

namespace pelloran {

class CLinkStatic;
class CSkinButton;
class FileRow;
class RunTally;
class SortListCtrl;
class VardelMenu;

// The open-file dialog's filter list, in order.
QStringList OpenFileFilters();

// How the window opens files, folders and addresses and tells the desktop (its handlers unless replaced).
struct ShellActions {
    std::function<bool(const std::string&)> showInFileManager;  // a file selected in the file manager
    std::function<bool(const std::string&)> open;               // a file, folder, web or mail address
    std::function<bool(const QString& summary, const QString& body)> notify;  // a desktop notification
    std::function<bool()> userAway;  // no window of ours is active: the user works in another program
};

// Type-ahead in the format list by the format's name ("f" for FLAC), not by the list's "to ..." text.
class FormatTypeAhead : public QObject {
public:
    explicit FormatTypeAhead(QComboBox* combo);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* combo_;
    QString prefix_;
    QElapsedTimer typed_;
};

class MainDialog : public QWidget {
    Q_OBJECT
public:
    // Command ids shared by buttons, menu items and keys.
    enum Command {
        kCmdAddFiles = 32773,
        kCmdAddFolder = 1024,
        kCmdRemoveAll = 1005,
        kCmdRemove = 32772,
        kCmdConvertAll = 32787,
        kCmdConvertSelected = 32786,
        kCmdPlaySource = 32775,
        kCmdPlayDestination = 32781,
        kCmdBrowseSource = 32777,
        kCmdBrowseDestination = 32780,
        kCmdOptions = 1014,
        kCmdHelpMenu = 1060,
        kCmdHelpTopics = 57670,
        kCmdTellFriend = 32782,
        kCmdFeedback = 32783,
        kCmdHomepage = 32784,
        kCmdCheckVersion = 32785,
        kCmdAbout = 1017,
        kCmdMinimize = 1030,
        kCmdMaximize = 1031,
        kCmdSelectAll = 32788,
        kCmdMirror = 32790,
        kCmdAnalyseLoudness = 32791,
        kCmdClose = 1000,
        kCmdNothing = 1156,
    };
    enum class AddResult { Added, Duplicate, Refused };

    // The first size of the window beside a command panel of the buttons' width (FirstSize adds what a wider
    // format list needs), and its smallest wherever the screen has room for it.
    static constexpr int kWidth = 699;
    static constexpr int kHeight = 538;
    // On a screen with less room the window may shrink to the screen, down to what its layout needs: the
    // command panel clear of the link below it, and a list beside the panel.
    static constexpr int kTightWidth = 480;
    static constexpr int kTightHeight = 340;
    // A run at least this long ends with a desktop notification when the window is not active.
    static constexpr int kNotifyAfterMs = 10000;
    static constexpr const char* kHelpTitle = "Pelloran Help";

    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    // Runs a command as its button, menu item or key does.
    void OnCommand(int id);
    // Shows the window at its saved size, maximised when it was closed so.
    void ShowAsSaved();
    // The first size: kWidth x kHeight, wider by what the command panel needs beyond its buttons' column, so
    // the list keeps its room beside a wide format list.
    QSize FirstSize() const;
    // The first size, or the room of the window's screen when that is less (never below the tight size).
    QSize Smallest() const;
    void ToggleMaximized();

    // File list. AddFileToList probes and appends one file at once; AddPaths adds many on the worker.
    AddResult AddFileToList(const std::string& path);
    int AddRow(std::unique_ptr<FileItem> item);
    void AddPaths(std::vector<std::string> paths);
    // Files and folders as dropped: folders are scanned, files go through the filter step.
    void AddDroppedPaths(std::vector<std::string> paths);
    // The part of Add Folder after the folder was chosen.
    void AddFolder(const std::string& folder);
    // Files and folders given on the command line or by a second start: files as they are, folders scanned
    // as Add Folder does. Kept until the window is idle when it is busy.
    void OpenPaths(std::vector<std::string> paths);
    // Paths handed over by a later start: the window comes to the front with the keyboard on its list.
    void OpenHandedPaths(std::vector<std::string> paths);
    void Remove();
    void RemoveAll();

    // Conversion runs.
    void ConvertAll();
    void ConvertSelected();
    // Measures the selected rows (all rows when none is selected) on the worker into the Loudness column.
    void AnalyseLoudness();

    // Which context-menu items are enabled, from the list's state.
    void EnableContextMenuItems();
    void ShowContextMenu(const QPoint& globalPos);

    bool IsBusy() const { return busy_; }
    SortListCtrl* list() const { return list_; }
    QComboBox* formatSelector() const { return formatSelector_; }
    VardelMenu* contextMenu() const;
    VardelMenu* helpMenu() const;
    CSkinButton* button(int id) const;
    AddProgressDialog* addProgress() const { return addDialog_; }
    ConversionProgressDialog* runProgress() const { return runDialog_; }
    ConvertSettings& settings() { return settings_; }
    RegistryStore& store() { return store_; }
    ShellActions& shell() { return shell_; }
    int statusColumnWidth() const { return statusColumnWidth_; }
    const std::string& failureNote() const { return failureNote_; }
    const QPixmap& background() const { return background_; }
    void SetNotifyAfter(int milliseconds) { notifyAfterMs_ = milliseconds; }

signals:
    void AddingFinished();
    void RunFinished();
    void LoudnessFinished();
    void Closed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct AddJob;
    class RunProgress;
    class RunObserverImpl;

    void Initialise();
    void CreateControls();
    void CreateMenus();
    void CreateShortcuts();
    void FillFormatSelector();
    void OnFormatChanged(int index);
    void Shutdown();

    void OpenFilesDialog();
    void BrowseForFolder();
    void StartAdding(std::shared_ptr<AddJob> job);
    void FinishAdding(const std::string& failureText, const std::string& note);
    void SetBusy(bool busy);

    void StartRun(const std::vector<FileRow*>& rows);
    void FinishRun(const RunSummary& summary);
    // No window of ours is active: the user works in another program.
    bool UserIsElsewhere() const;
    void ShowEntryStatus(size_t index, const QString& text, bool starting);
    void ShowEntryProgress(size_t index, double fraction);
    void ShowEntryFinished(size_t index, const std::string& target);
    void ShowRunProgress();
    void ShowLoudness(size_t index, const std::optional<LoudnessResult>& result);
    void FinishLoudness();
    // The Loudness column shows once a row has a level; emptying the list hides it again.
    void ShowLoudnessColumn(bool shown);
    void OpenRowFile(int id);
    void AfterWork();

    // Places the controls for the window's size and redraws the background under them.
    void Relayout();
    // The command panel's width: the buttons' column, or wider for the format list's longest entry.
    int PanelWidth() const;
    void SetLinkColours();
    // The columns fill the list's width: the figures at their natural widths, File and Status share the rest.
    void FitColumns();
    void RenderBackground();
    // Which edges a point near the border resizes; none inside.
    Qt::Edges EdgesAt(const QPoint& pos) const;
    void RestoreSize();

    void ShowHelpTopics();
    void ShowAbout();
    void ShowOptions();
    void ShowMirror();
    void OpenAddress(const char* address);
    FileRow* FirstSelectedRow() const;

    ConvertSettings settings_;
    RegistryStore store_;
    std::atomic<bool> soundFontReady_{false};
    ListedFiles listed_;
    std::string failureNote_;
    int statusColumnWidth_ = 145;
    int statusBase_ = 145;  // the Status column before it shares the room: widened, or as the user left it
    int statusShare_ = 0;   // what the Status column has of the room at the last fit
    bool fittingColumns_ = false;
    ShellActions shell_;

    QPixmap background_;
    QWidget* content_ = nullptr;
    SortListCtrl* list_ = nullptr;
    QComboBox* formatSelector_ = nullptr;
    CSkinButton* linkButton_ = nullptr;
    std::vector<std::pair<int, CSkinButton*>> buttons_;
    std::unique_ptr<VardelMenu> menu_;
    std::vector<QShortcut*> shortcuts_;

    std::optional<QPoint> dragOffset_;  // while the window follows the mouse
    struct ResizeGrip {
        Qt::Edges edges;
        QPoint press;  // global
        QRect start;
    };
    std::optional<ResizeGrip> resizeGrip_;  // while the window follows the mouse at its border
    bool startMaximized_ = false;
    bool screenWatched_ = false;  // the window handle's screen changes are followed
    std::vector<std::string> pendingPaths_;  // given while busy
    QPointer<QWidget> focusBeforeBusy_;      // the control the keyboard was on when work began
    int notifyAfterMs_ = kNotifyAfterMs;
    QElapsedTimer runClock_;
    std::unique_ptr<RunTally> runTally_;
    bool busy_ = false;
    bool closeWhenIdle_ = false;
    bool shutDown_ = false;
    QPointer<AddProgressDialog> addDialog_;
    QPointer<ConversionProgressDialog> runDialog_;
    std::unique_ptr<RunProgress> runProgress_;
    std::unique_ptr<RunObserverImpl> runObserver_;
    std::vector<FileRow*> runRows_;
    std::vector<FileRow*> loudRows_;  // the rows measured by the loudness job going on
    int32_t runFormat_ = 0;  // the output format of the run going on
    GuiQuestions questions_;
    WorkerThread worker_;  // last: joined before anything it uses goes away
};

}  // namespace pelloran
