#include "gui/options/OptionsSheetDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/wm.h"
#include "encode/WmaWriter.h"
#include "frontend/Wording.h"
#include "gui/options/AmrPage.h"
#include "gui/options/AacPage.h"
#include "gui/options/FlacPage.h"
#include "gui/options/Mp3Page.h"
#include "gui/options/OggPage.h"
#include "gui/options/OpusPage.h"
#include "gui/options/OutputPage.h"
#include "gui/options/WavPage.h"
#include "gui/options/OptionsSheet.h"
#include "gui/options/WmaPage.h"

namespace pelloran {

namespace {
// A page in a scroll area: as large as the page wants, but it may shrink on a small screen, where the
// page scrolls and OK and Cancel stay in view.
class PageScroller : public QScrollArea {
public:
    explicit PageScroller(QWidget* page) {
        setWidget(page);
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
    }
    QSize sizeHint() const override {
        const QSize page = widget()->sizeHint().expandedTo(widget()->minimumSizeHint());
        return page + QSize(verticalScrollBar()->sizeHint().width(), 0);
    }
    QSize minimumSizeHint() const override { return QSize(160, 120); }
};

}  // namespace

OptionsSheetDialog::OptionsSheetDialog(const ConvertSettings& settings, OptionsHooks& hooks, QWidget* parent)
    : QDialog(parent), hooks_(hooks) {
    setWindowTitle(QStringLiteral("Options"));
    setFont(PageFont());

    pages_ = {new OutputPage(settings, hooks), new Mp3Page(settings, hooks),
              new WavPage(settings, hooks),    new WmaPage(settings, hooks),
              new OggPage(settings, hooks),    new AmrPage(settings, hooks),
              new AacPage(settings, hooks),    new M4aPage(settings, hooks),
              new FlacPage(settings, hooks),   new OpusPage(settings, hooks)};

    tabBar_ = new QTabBar(this);
    tabBar_->setDrawBase(false);
    tabBar_->setUsesScrollButtons(true);  // on a narrow screen the tabs scroll
    tabBar_->setExpanding(false);
    stack_ = new QStackedWidget(this);
    for (OptionsPage* page : pages_) {
        tabBar_->addTab(page->TabText());
        stack_->addWidget(new PageScroller(page));
    }
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabBar_);
    layout->addWidget(stack_, 1);
    layout->addWidget(buttons_);

    const int start = settings.OptStartPageIndex >= 0 && settings.OptStartPageIndex < kPageCount
                          ? settings.OptStartPageIndex
                          : 0;
    pages_[static_cast<size_t>(start)]->EnsureCreated();
    stack_->setCurrentIndex(start);
    FitScreen();
    {
        const QSignalBlocker block(tabBar_);
        tabBar_->setCurrentIndex(start);
    }

    connect(tabBar_, &QTabBar::currentChanged, this, [this](int index) { TabChanged(index); });
    connect(buttons_, &QDialogButtonBox::accepted, this, &OptionsSheetDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &OptionsSheetDialog::reject);

    // Keyboard page switching goes through the same leave check as a click on a tab.
    auto step = [this](int delta) {
        tabBar_->setCurrentIndex((tabBar_->currentIndex() + delta + kPageCount) % kPageCount);
    };
    for (const auto& key : {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, [step] { step(1); });
    for (const auto& key :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, [step] { step(-1); });

    // Pages are made on first show: every wheel event passes by here, whatever page made its control.
    qApp->installEventFilter(this);
}

bool OptionsSheetDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Wheel || !watched->isWidgetType()) return QDialog::eventFilter(watched, event);
    auto* widget = static_cast<QWidget*>(watched);
    if (!isAncestorOf(widget)) return false;
    // A spin box's own line edit stands for the spin box.
    QWidget* control = widget;
    if (qobject_cast<QAbstractSpinBox*>(widget->parentWidget()) != nullptr) control = widget->parentWidget();
    const bool valueControl = qobject_cast<QComboBox*>(control) != nullptr ||
                              qobject_cast<QAbstractSpinBox*>(control) != nullptr ||
                              qobject_cast<QSlider*>(control) != nullptr;  // not the scroll bars
    if (!valueControl || control->hasFocus()) return false;
    // Handed to the page's scroll area, which scrolls (the control never sees it).
    for (QWidget* w = control->parentWidget(); w != nullptr && w != this; w = w->parentWidget()) {
        if (auto* scroller = qobject_cast<QAbstractScrollArea*>(w)) {
            QCoreApplication::sendEvent(scroller->viewport(), event);
            break;
        }
    }
    return true;
}

int OptionsSheetDialog::ActivePageIndex() const { return stack_->currentIndex(); }

void OptionsSheetDialog::FitScreen() {
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    // Room for the window frame the desktop adds.
    const QSize room = screen->availableGeometry().size() - QSize(16, 48);
    resize(sizeHint().boundedTo(room).expandedTo(minimumSizeHint()));
}

void OptionsSheetDialog::TabChanged(int index) {
    const int from = stack_->currentIndex();
    if (index == from || index < 0) return;
    PageRefusal refusal;
    if (!pages_[static_cast<size_t>(from)]->KillActive(refusal)) {
        {
            const QSignalBlocker block(tabBar_);
            tabBar_->setCurrentIndex(from);
        }
        ShowRefusal(refusal);
        return;
    }
    pages_[static_cast<size_t>(index)]->EnsureCreated();
    stack_->setCurrentIndex(index);
}

void OptionsSheetDialog::ShowRefusal(const PageRefusal& refusal) {
    if (hooks_.message) hooks_.message(this, refusal.message, QMessageBox::Warning);
    if (refusal.focus) {
        refusal.focus->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(refusal.focus)) edit->selectAll();
    }
}

void OptionsSheetDialog::accept() {
    PageRefusal refusal;
    if (!pages_[static_cast<size_t>(ActivePageIndex())]->KillActive(refusal)) {
        ShowRefusal(refusal);
        return;
    }
    for (OptionsPage* page : pages_) {
        if (page->IsCreated()) page->Apply();
    }
    QDialog::accept();
}

void OptionsSheetDialog::CopyBack(ConvertSettings& settings) const {
    for (OptionsPage* page : pages_) {
        if (page->IsCreated()) page->CopyBack(settings);
    }
}

// ---- the desktop

namespace {
bool AskDesktop(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QString::fromLatin1(kMessageTitle), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

class QuestionBox : public UserPrompt {
public:
    explicit QuestionBox(QWidget* parent) : parent_(parent) {}
    bool Ask(Question question, const QuestionData& data) override {
        return AskDesktop(parent_, QString::fromStdString(QuestionText(question, data)));
    }

private:
    QWidget* parent_;
};

// The runtime check may offer the download; the formats are listed once the runtime is usable.
std::vector<WmaFormatChoice> DesktopWmaFormats(QWidget* parent) {
    QuestionBox prompt(parent);
    if (!CheckWmaRuntime(&prompt, [](const std::string& address) { OpenWebAddress(address); }))
        return {};
    std::vector<WmaFormatChoice> formats;
    for (const WmaFormatEntry& entry : SharedWmaFormats())
        formats.push_back({entry.Rate(), static_cast<int>(entry.bitrate), entry.Channels()});
    return formats;
}


}  // namespace

OptionsHooks OptionsHooks::Desktop() {
    OptionsHooks hooks;
    hooks.message = [](QWidget* parent, const QString& text, QMessageBox::Icon icon) {
        QMessageBox box(icon, QString::fromLatin1(kMessageTitle), text, QMessageBox::Ok, parent);
        box.exec();
    };
    hooks.chooseFolder = [](QWidget* parent, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
    };
    hooks.open = [](const QString& target) { OpenWebAddress(target.toStdString()); };
    hooks.runModal = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    hooks.wmaFormats = DesktopWmaFormats;
    return hooks;
}

// ---- entry point

bool ShowOptionsSheet(QWidget* parent, ConvertSettings& settings, RegistryStore& store) {
    OptionsHooks hooks = OptionsHooks::Desktop();
    return ShowOptionsSheet(parent, settings, store, hooks);
}

bool ShowOptionsSheet(QWidget* parent, ConvertSettings& settings, RegistryStore& store,
                      OptionsHooks& hooks) {
    OptionsSheetDialog sheet(settings, hooks, parent);
    const bool ok = hooks.runModal ? hooks.runModal(sheet) : sheet.exec() == QDialog::Accepted;
    if (ok) {
        sheet.CopyBack(settings);
        RebuildExtensionFilter(settings);
        SaveSettings(settings, kSaveOptionsGroup, store);
        store.Commit();
    }
    settings.OptStartPageIndex = sheet.ActivePageIndex();
    return ok;
}

}  // namespace pelloran
