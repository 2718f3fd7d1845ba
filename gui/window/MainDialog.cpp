#include "gui/window/MainDialog.h"

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
#include "gui/window/MainDialogRun.h"
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

const CaptionSpec kCaptionButtons[] = {
    {MainDialog::kCmdHelpMenu, ":/images/help.png", QRect(624, 11, 21, 21), "Help"},
    {MainDialog::kCmdMinimize, ":/images/minimize.png", QRect(647, 11, 21, 21), "Minimize"},
    {MainDialog::kCmdClose, ":/images/close.png", QRect(669, 11, 21, 21), "Close"},
};

QFont SkinFont(bool underline) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    font.setBold(true);
    font.setUnderline(underline);
    return font;
}

}  // namespace

MainDialog::MainDialog(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowSystemMenuHint),
      questions_(this) {
    InitWindowResources();
    shell_.showInFileManager = [](const std::string& path) { return ShowInExplorer(path); };
    shell_.open = [](const std::string& address) { return OpenWebAddress(address); };
    Initialise();
}

void MainDialog::Initialise() {
    // The MIDI SoundFont is looked for when a run meets its first MIDI file (ensureSoundFont).
    store_.Load(RegistryStore::DefaultPath());
    LoadSettings(settings_, store_);

    setWindowIcon(QIcon(QStringLiteral(":/images/pelloran-256.png")));
    background_ = QPixmap(QStringLiteral(":/images/background.png"));
    setWindowTitle(QStringLiteral("Pelloran"));

    VardelMenu::drawModeThemed = 1;
    VardelMenu::drawModeOther = 1;
    CreateMenus();
    CreateShortcuts();

    setFixedSize(kWidth, kHeight);
    CreateControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    FillFormatSelector();
    setAcceptDrops(true);

    if (CheckFirstRun(store_)) {
        store_.Commit();
        ShowHelpTopics(true);
    }
}

void MainDialog::CreateControls() {
    content_ = new QWidget(this);
    content_->setGeometry(rect());

    // The list and the selector use a small font so that the column texts fit their widths.
    QFont small = font();
    small.setPixelSize(11);
    content_->setFont(small);

    list_ = new SortListCtrl(content_);
    list_->setGeometry(137, 63, 552, 465);
    struct ColumnSpec {
        const char* title;
        int width;
        bool right;
        int sortType;
    };
    const ColumnSpec columns[] = {
        {"File", 152, false, SortListCtrl::kSortText},
        {"Duration", 65, true, SortListCtrl::kSortMinutesSeconds},
        {"Bit Rate", 65, true, SortListCtrl::kSortNumber},
        {"Freq.", 65, true, SortListCtrl::kSortNumber},
        {"Channels", 60, false, SortListCtrl::kSortText},
        {"Status", statusColumnWidth_, false, SortListCtrl::kSortText},
    };
    QStringList titles;
    for (const ColumnSpec& c : columns) titles << QString::fromUtf8(c.title);
    list_->setColumnCount(SortListCtrl::kColumnCount);
    list_->setHeaderLabels(titles);
    for (int i = 0; i < SortListCtrl::kColumnCount; ++i) {
        list_->setColumnWidth(i, columns[i].width);
        list_->SetColumnSortType(i, columns[i].sortType);
        list_->headerItem()->setTextAlignment(i, (columns[i].right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    connect(list_, &SortListCtrl::ContextMenuWanted, this,
            [this](const QPoint& pos, bool) { ShowContextMenu(pos); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnCommand(kCmdPlaySource); });

    const QPixmap normal(QStringLiteral(":/images/button.png"));
    const QPixmap hover(QStringLiteral(":/images/button-hover.png"));
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
        b->setToolTip(QString::fromUtf8(spec.tip));
        connect(b, &QPushButton::clicked, this, [this, id = spec.id] { OnCommand(id); });
        buttons_.emplace_back(spec.id, b);
    }
    for (const CaptionSpec& spec : kCaptionButtons) {
        auto* b = new CSkinButton(QString(), content_);
        b->setGeometry(spec.geometry);
        b->SetCursorShape(Qt::PointingHandCursor);
        b->SetDrawText(false, false);
        b->SetBorder(true, true, false);
        b->SetParentBackground(background_, false);
        b->SetIcon(QIcon(QString::fromUtf8(spec.image)), QIcon(), false, false);
        b->setToolTip(QString::fromUtf8(spec.tip));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, [this, id = spec.id] { OnCommand(id); });
        buttons_.emplace_back(spec.id, b);
    }
    linkButton_ = new CSkinButton(QString::fromUtf8(kWebSiteText), content_);
    linkButton_->setGeometry(9, 507, 113, 20);
    linkButton_->SetButtonFont(SkinFont(true), false);
    linkButton_->SetParentBackground(background_, false);
    linkButton_->SetCursorShape(Qt::PointingHandCursor);
    linkButton_->SetColors(QColor(0, 0, 255), QColor(255, 0, 0), false);
    linkButton_->SetBorder(false, true, false);
    linkButton_->SetPressedOffset(false, false);
    linkButton_->setToolTip(QStringLiteral("Visit %1 Homepage").arg(kProgramName));
    linkButton_->setFocusPolicy(Qt::NoFocus);
    connect(linkButton_, &QPushButton::clicked, this, [this] { OnCommand(kCmdHomepage); });
    buttons_.emplace_back(kCmdHomepage, linkButton_);

    formatSelector_ = new QComboBox(content_);
    formatSelector_->setGeometry(14, 239, 98, 24);
    formatSelector_->setToolTip(QStringLiteral("Output format"));
    formatSelector_->view()->setMinimumWidth(160);
}

void MainDialog::FillFormatSelector() {
    for (const OutputFormatRow* row = kOutputFormatTable; row->code != -1; ++row) {
        formatSelector_->addItem(QString::fromStdString(OutputFormatRowText(*row)), row->code);
    }
    int index = OutputFormatRowIndex(settings_.OutputFormat);
    if (index < 0) {
        index = 0;
        settings_.OutputFormat = kOutputFormatTable[0].code;
    }
    formatSelector_->setCurrentIndex(index);
    connect(formatSelector_, &QComboBox::currentIndexChanged, this, &MainDialog::OnFormatChanged);
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
    content_->setEnabled(!busy);
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
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->windowTitle() == QLatin1String(kHelpTitle)) w->close();
    }
    list_->clear();
    pathIndex_.Clear();
    // The output-format choice is kept only when the window closes.
    RegistryStore fresh;
    fresh.Load(store_.path());
    SaveSettings(settings_, kSaveFormatGroup, fresh);
    if (fresh.Commit()) store_ = fresh;
}

void MainDialog::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, background_);
}

void MainDialog::mousePressEvent(QMouseEvent* event) {
    // A press on the background moves the window: by the window manager, or by following the mouse.
    if (event->button() == Qt::LeftButton) {
        if (!windowHandle() || !windowHandle()->startSystemMove())
            dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MainDialog::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *dragOffset_);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void MainDialog::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    QWidget::mouseReleaseEvent(event);
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
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    }
    event->acceptProposedAction();
    if (!paths.empty()) AddDroppedPaths(std::move(paths));
}

}  // namespace pelloran
