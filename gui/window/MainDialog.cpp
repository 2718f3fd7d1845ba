#include "gui/window/MainDialog.h"

#include <QtCore/QByteArray>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QCloseEvent>
#include <QtGui/QDragEnterEvent>
#include <QtGui/QDropEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtGui/QWindow>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHeaderView>

#include "gui/Addresses.h"
#include "gui/controls/Backdrop.h"
#include "gui/window/MainDialogRun.h"
#include "gui/window/Notification.h"
#include "gui/window/ProgressDialogs.h"
#include "gui/window/SortListCtrl.h"
#include "platform/shell.h"
#include "gui/controls/SkinButton.h"
#include "gui/controls/VardelMenu.h"

// The pictures and help pages are compiled into the window library; a static library needs them registered.
static void InitWindowResources() { Q_INIT_RESOURCE(pelloran); }

namespace pelloran {

namespace {

struct ButtonSpec {
    int id;
    const char* text;
    QRect geometry;
    const char* tip;
};

// The five command buttons at their pixel positions.
const ButtonSpec kCommandButtons[] = {
    {MainDialog::kCmdAddFiles, "&Add Files", QRect(11, 72, 107, 27), "Add files"},
    {MainDialog::kCmdAddFolder, "Add &Folder", QRect(11, 115, 107, 27), "Add files from a folder"},
    {MainDialog::kCmdRemoveAll, "Remove A&ll", QRect(11, 161, 107, 27), "Remove all files in list"},
    {MainDialog::kCmdConvertAll, "&Convert", QRect(11, 206, 107, 27), "Convert all files"},
    {MainDialog::kCmdOptions, "&Options", QRect(11, 278, 107, 27), "Options"},
};

struct CaptionSpec {
    int id;
    const char* image;
    QRect geometry;
    const char* tip;
};

// The caption buttons; x counts from the right edge of the window.
const CaptionSpec kCaptionButtons[] = {
    {MainDialog::kCmdHelpMenu, ":/images/help.png", QRect(98, 11, 21, 21), "Help"},
    {MainDialog::kCmdMinimize, ":/images/minimize.png", QRect(75, 11, 21, 21), "Minimize"},
    {MainDialog::kCmdMaximize, ":/images/maximize.png", QRect(52, 11, 21, 21), "Maximize"},
    {MainDialog::kCmdClose, ":/images/close.png", QRect(30, 11, 21, 21), "Close"},
};

// The band at the top: a double click there maximises or restores the window.
constexpr int kHeaderHeight = 56;
// A press this close to the border resizes the window.
constexpr int kResizeBorder = 6;
// The command panel at the narrowest: the buttons' column.
constexpr int kPanelWidth = 124;
// The File column at the smallest (its tip names the whole path); a larger window gives it more.
constexpr int kFileColumnWidth = 120;
// The File column beside the Loudness column in a window short of room.
constexpr int kFileColumnTight = 80;

// A picture of the resources at the scale of the screen (name@2x.png beside name.png).
QPixmap Picture(const char* path, QSize size, qreal scale) {
    return ArtIcon(QString::fromUtf8(path)).pixmap(size, scale);
}

// The desktop's font, bold on the command buttons, underlined on the link.
QFont SkinFont(bool underline) {
    QFont font = QApplication::font();
    font.setBold(!underline);
    font.setUnderline(underline);
    return font;
}

}  // namespace

MainDialog::MainDialog(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint),
      questions_(this) {
    InitWindowResources();
    shell_.showInFileManager = [](const std::string& path) { return ShowInFileManager(path); };
    shell_.open = [](const std::string& address) { return OpenWebAddress(address); };
    shell_.notify = [](const QString& summary, const QString& body) { return NotifyDesktop(summary, body); };
    shell_.userAway = [this] { return UserIsElsewhere(); };
    Initialise();
}

void MainDialog::Initialise() {
    // The MIDI SoundFont is looked for when a run meets its first MIDI file (ensureSoundFont).
    store_.Load(RegistryStore::DefaultPath());
    LoadSettings(settings_, store_);

    setWindowIcon(QIcon(QStringLiteral(":/images/pelloran-256.png")));
    setWindowTitle(QStringLiteral("Pelloran"));

    VardelMenu::drawModeThemed = 1;
    VardelMenu::drawModeOther = 1;
    CreateMenus();
    CreateShortcuts();

    CreateControls();
    FillFormatSelector();  // the panel as wide as the format list needs, and the first size with it
    setMinimumSize(Smallest());
    RestoreSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    Relayout();
    setAcceptDrops(true);

    // The first start is recorded; the help stays one F1 away instead of opening behind the window.
    if (CheckFirstRun(store_)) store_.Commit();
}

void MainDialog::CreateControls() {
    content_ = new QWidget(this);
    content_->setGeometry(rect());
    content_->setMouseTracking(true);  // the resize cursor at the border
    content_->installEventFilter(this);
    setMouseTracking(true);

    list_ = new SortListCtrl(content_);
    struct ColumnSpec {
        const char* title;
        int width;
        bool right;
        int sortType;
    };
    const ColumnSpec columns[] = {
        {"File", kFileColumnWidth, false, SortListCtrl::kSortText},
        {"Duration", 65, true, SortListCtrl::kSortMinutesSeconds},
        {"Bit Rate", 65, true, SortListCtrl::kSortNumber},
        {"Freq.", 65, true, SortListCtrl::kSortNumber},
        {"Channels", 60, false, SortListCtrl::kSortText},
        {"Loudness", 75, true, SortListCtrl::kSortDecimal},
        {"Status", statusColumnWidth_, false, SortListCtrl::kSortText},
    };
    QStringList titles;
    for (const ColumnSpec& c : columns) titles << QString::fromUtf8(c.title);
    list_->setColumnCount(SortListCtrl::kColumnCount);
    list_->setHeaderLabels(titles);
    const QFontMetrics metrics(list_->header()->font());
    for (int i = 0; i < SortListCtrl::kColumnCount; ++i) {
        // A larger desktop font widens a column to its title.
        const int title = metrics.horizontalAdvance(titles[i]) + 20;
        list_->setColumnWidth(i, i == SortListCtrl::kColStatus ? columns[i].width : std::max(columns[i].width, title));
        list_->SetColumnSortType(i, columns[i].sortType);
        list_->headerItem()->setTextAlignment(i, (columns[i].right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    list_->setColumnHidden(SortListCtrl::kColLoudness, true);  // until a row is measured
    // A Status column the user widens or narrows keeps that width as its part when the columns share the room.
    connect(list_->header(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!fittingColumns_ && column == SortListCtrl::kColStatus) statusBase_ = std::max(40, width - statusShare_);
    });
    list_->viewport()->installEventFilter(this);  // a scroll bar coming or going changes the room
    connect(list_, &SortListCtrl::ContextMenuWanted, this,
            [this](const QPoint& pos, bool) { ShowContextMenu(pos); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnCommand(kCmdPlaySource); });

    const qreal scale = devicePixelRatioF();
    const QPixmap normal = Picture(":/images/button.png", QSize(107, 27), scale);
    const QPixmap hover = Picture(":/images/button-hover.png", QSize(107, 27), scale);
    for (const ButtonSpec& spec : kCommandButtons) {
        auto* b = new CSkinButton(QString::fromUtf8(spec.text), content_);
        b->setGeometry(spec.geometry);
        b->SetCursorShape(Qt::PointingHandCursor);
        b->SetButtonFont(SkinFont(false), false);
        b->SetColors(QColor(53, 53, 53), QColor(53, 53, 53), false);
        b->SetTextOffset(0, -1, false);
        b->SetBorder(false, true, false);
        b->SetParentBackground(background_, false);
        b->SetBitmaps(normal, hover, true, false);
        b->SetFocusRect(true, false);
        b->setToolTip(QString::fromUtf8(spec.tip));
        connect(b, &QPushButton::clicked, this, [this, id = spec.id] { OnCommand(id); });
        buttons_.emplace_back(spec.id, b);
    }
    for (const CaptionSpec& spec : kCaptionButtons) {
        auto* b = new CSkinButton(QString(), content_);
        b->resize(spec.geometry.size());
        b->SetCursorShape(Qt::PointingHandCursor);
        b->SetDrawText(false, false);
        b->SetBorder(true, true, false);
        b->SetParentBackground(background_, false);
        b->SetIcon(ArtIcon(QString::fromUtf8(spec.image)), QIcon(), false, false);
        b->setToolTip(QString::fromUtf8(spec.tip));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, [this, id = spec.id] { OnCommand(id); });
        buttons_.emplace_back(spec.id, b);
    }
    linkButton_ = new CSkinButton(QString::fromUtf8(kWebSiteText), content_);
    linkButton_->resize(113, 20);
    linkButton_->SetButtonFont(SkinFont(true), false);
    linkButton_->SetParentBackground(background_, false);
    linkButton_->SetCursorShape(Qt::PointingHandCursor);
    SetLinkColours();
    linkButton_->SetBorder(false, true, false);
    linkButton_->SetPressedOffset(false, false);
    linkButton_->setToolTip(QStringLiteral("Visit %1 Homepage").arg(kProgramName));
    linkButton_->setFocusPolicy(Qt::NoFocus);
    connect(linkButton_, &QPushButton::clicked, this, [this] { OnCommand(kCmdHomepage); });
    buttons_.emplace_back(kCmdHomepage, linkButton_);

    formatSelector_ = new QComboBox(content_);
    // As wide as its longest entry: the command panel widens for it.
    formatSelector_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    formatSelector_->resize(98, 24);
    formatSelector_->setToolTip(QStringLiteral("Output format"));
    formatSelector_->view()->setMinimumWidth(160);

    // Tab follows the layout: the command panel from the top, the format right after Convert, then the list.
    QWidget* order[] = {button(kCmdAddFiles), button(kCmdAddFolder), button(kCmdRemoveAll), button(kCmdConvertAll),
                        formatSelector_,      button(kCmdOptions),   list_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    Relayout();
}

int MainDialog::PanelWidth() const {
    // The buttons' column, or what the format list's longest entry needs.
    return std::max(kPanelWidth, formatSelector_ ? formatSelector_->sizeHint().width() + 26 : 0);
}

void MainDialog::Relayout() {
    const int w = width();
    const int h = height();
    const int panel = PanelWidth();
    // The format list, polished or given another font, may want another width: the first size follows it.
    if (minimumSize() != Smallest()) setMinimumSize(Smallest());
    content_->setGeometry(rect());
    QRect listArea(panel + 13, 63, w - panel - 23, h - 73);
    // A progress panel takes the bottom of the list's place: the list stays in sight above it.
    for (ProgressWindow* progress : {static_cast<ProgressWindow*>(addDialog_.data()),
                                     static_cast<ProgressWindow*>(runDialog_.data())}) {
        if (progress == nullptr || progress->isHidden()) continue;
        const int tall = std::min(progress->height(), listArea.height() / 2);
        progress->setGeometry(listArea.left(), listArea.bottom() + 1 - tall, listArea.width(), tall);
        listArea.setBottom(listArea.bottom() - tall - 4);
    }
    list_->setGeometry(listArea);
    const int shift = (panel - kPanelWidth) / 2;
    for (const ButtonSpec& spec : kCommandButtons) {
        if (CSkinButton* b = button(spec.id)) b->move(spec.geometry.x() + shift, spec.geometry.y());
    }
    if (formatSelector_) formatSelector_->setGeometry(14, 239, panel - 26, 24);
    FitColumns();
    for (const CaptionSpec& spec : kCaptionButtons) {
        if (CSkinButton* b = button(spec.id)) b->move(w - spec.geometry.x(), spec.geometry.y());
    }
    linkButton_->move(9, h - 31);
    RenderBackground();
}

void MainDialog::FitColumns() {
    // The figures take what their title or a long value needs; File and Status share the rest of the width,
    // File the larger part, each never below its own width (the list scrolls sideways then).
    static const char* const kLongest[] = {nullptr,    "0:00:00",    "1411 kbps", "48000 Hz",
                                           "J-Stereo", "-70.0 LUFS", nullptr};
    static_assert(std::size(kLongest) == SortListCtrl::kColumnCount);
    const QFontMetrics title(list_->header()->font());
    const QFontMetrics cell(list_->font());
    int figures = 0;
    fittingColumns_ = true;
    for (int i = 0; i < SortListCtrl::kColumnCount; ++i) {
        if (kLongest[i] == nullptr || list_->isColumnHidden(i)) continue;
        const int width = std::max(title.horizontalAdvance(list_->headerItem()->text(i)) + 16,
                                   cell.horizontalAdvance(QString::fromUtf8(kLongest[i])) + 10);
        list_->setColumnWidth(i, width);
        figures += width;
    }
    int room = list_->viewport()->width() - figures - kFileColumnWidth - statusBase_;
    // Short of room with the Loudness column in sight, File and Status give it up about evenly, File down to
    // its tight width, Status to what a running status needs.
    int file = kFileColumnWidth;
    int status = statusBase_;
    if (room < 0 && !list_->isColumnHidden(SortListCtrl::kColLoudness)) {
        const int need = -room;
        const int running = cell.horizontalAdvance(QStringLiteral("Converting 100%")) + 8;
        const int statusSpare = std::max(0, statusBase_ - running);
        const int fileSpare = kFileColumnWidth - kFileColumnTight;
        const int fromStatus = std::min(statusSpare, std::max(need / 2, need - fileSpare));
        const int fromFile = std::min(fileSpare, need - fromStatus);
        status -= fromStatus;
        file -= fromFile;
        room += fromStatus + fromFile;
    }
    room = std::max(0, room);
    const int fileShare = room * 3 / 5;
    list_->setColumnWidth(SortListCtrl::kColFile, file + fileShare);
    statusShare_ = status - statusBase_ + room - fileShare;
    list_->setColumnWidth(SortListCtrl::kColStatus, statusBase_ + statusShare_);
    fittingColumns_ = false;
}

void MainDialog::RenderBackground() {
    const qreal scale = devicePixelRatioF();
    QPixmap picture((QSizeF(size()) * scale).toSize());
    picture.setDevicePixelRatio(scale);
    QPainter p(&picture);
    PaintBackdrop(p, size(), palette(), PanelWidth());
    p.end();
    background_ = picture;
    for (const auto& [id, b] : buttons_) b->SetParentBackground(background_, true);
    update();
}

void MainDialog::RestoreSize() {
    const QSize first = FirstSize();
    const int width = store_.ReadNumber(kOptionsKey, "WindowWidth").value_or(first.width());
    const int height = store_.ReadNumber(kOptionsKey, "WindowHeight").value_or(first.height());
    QSize size = QSize(width, height).expandedTo(first);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size.expandedTo(Smallest()));
    startMaximized_ = store_.ReadNumber(kOptionsKey, "WindowMaximized").value_or(0) != 0;
}

QSize MainDialog::FirstSize() const { return QSize(kWidth + PanelWidth() - kPanelWidth, kHeight); }

QSize MainDialog::Smallest() const {
    const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const QSize first = FirstSize();
    if (shown == nullptr) return first;
    return first.boundedTo(shown->availableGeometry().size()).expandedTo(QSize(kTightWidth, kTightHeight));
}

void MainDialog::ShowAsSaved() {
    if (startMaximized_) showMaximized();
    else show();
}

void MainDialog::ToggleMaximized() {
    if (isMaximized()) showNormal();
    else showMaximized();
}

Qt::Edges MainDialog::EdgesAt(const QPoint& pos) const {
    Qt::Edges edges;
    if (isMaximized() || isFullScreen()) return edges;
    if (pos.x() < kResizeBorder) edges |= Qt::LeftEdge;
    if (pos.x() >= width() - kResizeBorder) edges |= Qt::RightEdge;
    if (pos.y() < kResizeBorder) edges |= Qt::TopEdge;
    if (pos.y() >= height() - kResizeBorder) edges |= Qt::BottomEdge;
    return edges;
}

FormatTypeAhead::FormatTypeAhead(QComboBox* combo) : QObject(combo), combo_(combo) {}

bool FormatTypeAhead::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (text.isEmpty() || !text[0].isLetterOrNumber() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
    // Typing within a second goes on with the same name ("o", "op": Opus, not Ogg).
    if (!typed_.isValid() || typed_.elapsed() > 1000) prefix_.clear();
    typed_.start();
    prefix_ += text;
    const auto select = [this] {
        for (int i = 0; i < combo_->count(); ++i) {
            const QString name = combo_->itemText(i).trimmed().remove(0, 3);  // after "to "
            if (name.startsWith(prefix_, Qt::CaseInsensitive)) {
                combo_->setCurrentIndex(i);
                return true;
            }
        }
        return false;
    };
    // A letter that continues no name starts a new one.
    if (!select() && prefix_.size() > text.size()) {
        prefix_ = text;
        select();
    }
    return true;
}

void MainDialog::FillFormatSelector() {
    const std::vector<FormatListRow> rows = FormatListRows();
    for (const FormatListRow& row : rows) formatSelector_->addItem(QString::fromStdString(" to " + row.label), row.code);
    int index = FormatListRowIndex(settings_.OutputFormat);
    if (index < 0) {
        index = 0;
        settings_.OutputFormat = rows.front().code;
    }
    formatSelector_->setCurrentIndex(index);
    connect(formatSelector_, &QComboBox::currentIndexChanged, this, &MainDialog::OnFormatChanged);
    // The open list is as wide as its longest entry; the closed one's tip names the whole choice.
    formatSelector_->view()->setMinimumWidth(
        std::max(160, formatSelector_->view()->sizeHintForColumn(0) + formatSelector_->view()->frameWidth() * 2 + 24));
    const auto tip = [this](int i) { formatSelector_->setToolTip("Output format:" + formatSelector_->itemText(i)); };
    tip(index);
    connect(formatSelector_, &QComboBox::currentIndexChanged, this, tip);
    formatSelector_->installEventFilter(new FormatTypeAhead(formatSelector_));
}

void MainDialog::OnFormatChanged(int index) {
    settings_.OutputFormat = index < 0 ? kOutputMp3 : formatSelector_->itemData(index).toInt();
}

CSkinButton* MainDialog::button(int id) const {
    for (const auto& [bid, b] : buttons_) {
        if (bid == id) return b;
    }
    return nullptr;
}

void MainDialog::SetBusy(bool busy) {
    busy_ = busy;
    // Disabling the controls takes the keyboard from them; it goes back where it was, else to the list.
    if (busy) focusBeforeBusy_ = focusWidget();
    content_->setEnabled(!busy);
    if (busy) return;
    QWidget* back = focusBeforeBusy_ ? focusBeforeBusy_.data() : list_;
    focusBeforeBusy_ = nullptr;
    if (back->isEnabled()) back->setFocus();
}

void MainDialog::OpenHandedPaths(std::vector<std::string> paths) {
    if (isMinimized()) showNormal();
    else if (!isVisible()) ShowAsSaved();
    raise();
    activateWindow();
    if (!busy_) list_->setFocus();
    else focusBeforeBusy_ = list_;
    OpenPaths(std::move(paths));
}

MainDialog::~MainDialog() {
    // Work still going on is cancelled and waited for before anything it uses goes away.
    if (addDialog_) addDialog_->reject();
    if (runDialog_) runDialog_->reject();
    questions_.Abandon();
    worker_.Join();
    if (QApplication::overrideCursor() && runProgress_) QApplication::restoreOverrideCursor();
    Shutdown();
}

void MainDialog::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->windowTitle() == QLatin1String(kHelpTitle)) w->close();
    }
    list_->clear();
    listed_.Clear();
    // The output-format choice is kept only when the window closes.
    RegistryStore fresh;
    fresh.Load(store_.path());
    SaveSettings(settings_, kSaveFormatGroup, fresh);
    // The window's size is kept with it.
    if (normal.isValid()) {
        fresh.WriteNumber(kOptionsKey, "WindowWidth", std::max(normal.width(), minimumWidth()));
        fresh.WriteNumber(kOptionsKey, "WindowHeight", std::max(normal.height(), minimumHeight()));
    }
    fresh.WriteNumber(kOptionsKey, "WindowMaximized", isMaximized() ? 1 : 0);
    if (fresh.Commit()) store_ = fresh;
}

void MainDialog::paintEvent(QPaintEvent*) {
    // Moved to a screen of another scale: the background is drawn again for it.
    if (!qFuzzyCompare(background_.devicePixelRatio(), devicePixelRatioF())) RenderBackground();
    QPainter p(this);
    p.drawPixmap(0, 0, background_);
}

void MainDialog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Relayout();
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (list_ != nullptr && watched == list_->viewport() && event->type() == QEvent::Resize) FitColumns();
    // A control's size hint changed (the format list's when polished): the panel may need another width.
    if (watched == content_ && event->type() == QEvent::LayoutRequest) Relayout();
    return QWidget::eventFilter(watched, event);
}

bool MainDialog::event(QEvent* event) {
    // A progress panel shown or hidden: the list makes room for it or takes its place back.
    if (event->type() == QEvent::LayoutRequest) Relayout();
    return QWidget::event(event);
}

void MainDialog::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The maximise button offers to restore a maximised window.
    if (event->type() == QEvent::WindowStateChange) {
        if (CSkinButton* b = button(kCmdMaximize)) {
            b->SetIcon(isMaximized() ? RestoreIcon() : ArtIcon(QStringLiteral(":/images/maximize.png")), QIcon(), false);
            b->setToolTip(isMaximized() ? QStringLiteral("Restore") : QStringLiteral("Maximize"));
        }
    }
    // The desktop went light or dark, or changed its font: the painted parts follow.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        if (linkButton_ != nullptr) {
            SetLinkColours();
            setMinimumSize(Smallest());  // a larger font widens the panel, and the first size with it
            Relayout();
        }
    }
}

void MainDialog::SetLinkColours() {
    linkButton_->SetColors(palette().color(QPalette::Link), palette().color(QPalette::LinkVisited), false);
    linkButton_->update();
}

void MainDialog::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Moved to a screen of another size: the smallest size follows it.
    if (!screenWatched_ && windowHandle() != nullptr) {
        screenWatched_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { setMinimumSize(Smallest()); });
    }
}

void MainDialog::mousePressEvent(QMouseEvent* event) {
    // A press at the border resizes the window, elsewhere on the background it moves it: by the window
    // manager, or by following the mouse.
    if (event->button() == Qt::LeftButton) {
        const Qt::Edges edges = EdgesAt(event->position().toPoint());
        const QPoint global = event->globalPosition().toPoint();
        if (edges) {
            if (!windowHandle() || !windowHandle()->startSystemResize(edges))
                resizeGrip_ = ResizeGrip{edges, global, geometry()};
        } else if (!windowHandle() || !windowHandle()->startSystemMove()) {
            dragOffset_ = global - frameGeometry().topLeft();
        }
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MainDialog::mouseMoveEvent(QMouseEvent* event) {
    const QPoint global = event->globalPosition().toPoint();
    if (resizeGrip_ && (event->buttons() & Qt::LeftButton)) {
        const QPoint d = global - resizeGrip_->press;
        QRect r = resizeGrip_->start;
        const Qt::Edges e = resizeGrip_->edges;
        const int w = minimumWidth();
        const int h = minimumHeight();
        if (e & Qt::LeftEdge) r.setLeft(std::min(r.left() + d.x(), r.right() + 1 - w));
        if (e & Qt::RightEdge) r.setRight(std::max(r.right() + d.x(), r.left() + w - 1));
        if (e & Qt::TopEdge) r.setTop(std::min(r.top() + d.y(), r.bottom() + 1 - h));
        if (e & Qt::BottomEdge) r.setBottom(std::max(r.bottom() + d.y(), r.top() + h - 1));
        setGeometry(r);
        event->accept();
        return;
    }
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        move(global - *dragOffset_);
        event->accept();
        return;
    }
    if (event->buttons() == Qt::NoButton) {
        const Qt::Edges e = EdgesAt(event->position().toPoint());
        const bool diagonalDown = (e & Qt::LeftEdge && e & Qt::TopEdge) || (e & Qt::RightEdge && e & Qt::BottomEdge);
        const bool diagonalUp = (e & Qt::RightEdge && e & Qt::TopEdge) || (e & Qt::LeftEdge && e & Qt::BottomEdge);
        if (diagonalDown) setCursor(Qt::SizeFDiagCursor);
        else if (diagonalUp) setCursor(Qt::SizeBDiagCursor);
        else if (e & (Qt::LeftEdge | Qt::RightEdge)) setCursor(Qt::SizeHorCursor);
        else if (e) setCursor(Qt::SizeVerCursor);
        else unsetCursor();
    }
    QWidget::mouseMoveEvent(event);
}

void MainDialog::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    resizeGrip_.reset();
    QWidget::mouseReleaseEvent(event);
}

void MainDialog::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && event->position().y() < kHeaderHeight) {
        ToggleMaximized();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape: event->accept(); return;  // neither converts nor closes
        default: QWidget::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The work stops first; the window closes when it has.
        closeWhenIdle_ = true;
        if (addDialog_) addDialog_->reject();
        if (runDialog_) runDialog_->reject();
        event->ignore();
        return;
    }
    event->accept();
    emit Closed();
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (!busy_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event) {
    if (busy_ || !event->mimeData()->hasUrls()) return;
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        // The path's bytes as the address gives them: a name need not be UTF-8.
        if (url.isLocalFile())
            paths.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    }
    event->acceptProposedAction();
    if (!paths.empty()) AddDroppedPaths(std::move(paths));
}

}  // namespace pelloran
