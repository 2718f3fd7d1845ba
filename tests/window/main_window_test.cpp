// The main window itself: the format selector and its saving, keys, the first run and the help window,
// the context and help menus, questions from the worker, the skinned controls and the About box.

#include <QtGui/QContextMenuEvent>
#include <QtGui/QCursor>
#include <QtGui/QEnterEvent>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyleOptionMenuItem>

#include <atomic>
#include <thread>

#include "gui/Addresses.h"
#include "gui/window/GuiBridge.h"
#include "tests/window/WindowTest.h"
#include "gui/controls/AboutBox.h"
#include "gui/controls/LinkStatic.h"
#include "gui/controls/SkinButton.h"
#include "gui/controls/VardelMenu.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

int StoredNumber(const std::string& name) {
    RegistryStore store;
    store.Load(RegistryStore::DefaultPath());
    return store.ReadNumber(kOptionsKey, name).value_or(-1);
}

QWidget* HelpWindowOnScreen() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == QLatin1String(MainDialog::kHelpTitle)) return w;
    }
    return nullptr;
}

bool Enabled(MainDialog& w, int id) { return w.contextMenu()->ActionFor(id)->isEnabled(); }

// The dark pixels' bounding box: where a button's text was drawn.
QRect InkBox(const QImage& image) {
    QRect box;
    for (int y = 2; y < image.height() - 2; ++y)
        for (int x = 2; x < image.width() - 2; ++x)
            if (qGray(image.pixel(x, y)) < 100) box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void formatChoiceIsSavedOnlyWhenTheWindowCloses();
    void unknownStoredFormatSelectsTheFirstRow();
    void enterAndEscapeDoNothing();
    void movesWhenItsBackgroundIsDragged();
    void firstRunLeavesTheHelpClosed();
    void contextMenuFollowsTheSelection();
    void helpMenuAndAboutBoxOpenTheirAddresses();
    void closingWaitsForTheWorkToStop();
    void questionsFromTheWorkerAreAnsweredOnScreen();
    void skinButtonShowsItsBorderOnlyWhenActive();
    void linkOpensItsAddressOrSaysWhyNot();
    void menuItemsCarryTheirImagesInTheFlatStyle();
    void followsLightAndDarkPalettes();
};

void MainWindowTest::formatChoiceIsSavedOnlyWhenTheWindowCloses() {
    WindowHarness h([](ConvertSettings& s) { s.OutputFormat = kOutputM4a; });
    MainDialog& w = h.Open();
    QComboBox* selector = w.formatSelector();
    // Two rows share 6500; the later one is chosen.
    QCOMPARE(selector->currentText(), QString(" to M4A (MPEG-4 Audio)"));
    QCOMPARE(selector->count(), 14);
    QCOMPARE(selector->itemText(0), QString(" to MP3"));
    QCOMPARE(selector->itemText(13), QString(" to ALAC (Apple Lossless)"));
    QCOMPARE(selector->toolTip(), QString("Output format: to M4A (MPEG-4 Audio)"));
    // Type-ahead goes by the format's name; the open list shows the longest entry whole.
    QTest::keyClick(selector, Qt::Key_F);
    QCOMPARE(selector->currentText(), QString(" to FLAC"));
    QTest::keyClicks(selector, "op");
    QCOMPARE(selector->currentText(), QString(" to Opus"));
    QVERIFY(selector->view()->minimumWidth() >=
            selector->view()->fontMetrics().horizontalAdvance(" to ALAC (Apple Lossless)"));

    selector->setCurrentIndex(selector->findText(" to OGG"));
    QCOMPARE(w.settings().OutputFormat, int(kOutputOgg));
    QCOMPARE(StoredNumber("OutputFormat"), int(kOutputM4a));
    h.Destroy();
    QCOMPARE(StoredNumber("OutputFormat"), int(kOutputOgg));

    MainDialog& again = h.Open();
    QCOMPARE(again.formatSelector()->currentText(), QString(" to OGG"));
}

void MainWindowTest::unknownStoredFormatSelectsTheFirstRow() {
    WindowHarness h([](ConvertSettings& s) { s.OutputFormat = 1234; });
    MainDialog& w = h.Open();
    QCOMPARE(w.formatSelector()->currentIndex(), 0);
    QCOMPARE(w.settings().OutputFormat, int(kOutputMp3));
}

void MainWindowTest::enterAndEscapeDoNothing() {
    WindowHarness h;
    MainDialog& w = h.Open();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    WriteSineWav(h.File("stay.wav"), 8000, 1, 0.2);
    h.AddAndWait({h.File("stay.wav")});
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    h.SelectRows({0});
    QSignalSpy closed(&w, &MainDialog::Closed);
    for (QWidget* target : {static_cast<QWidget*>(&w), static_cast<QWidget*>(w.list()),
                            static_cast<QWidget*>(w.button(MainDialog::kCmdConvertAll))}) {
        target->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
    }
    // Ctrl+A selects every row.
    w.list()->clearSelection();
    QTest::keyClick(w.list(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.list()->SelectedRows().size(), size_t(1));
    QCoreApplication::processEvents();
    QVERIFY(w.isVisible());
    QVERIFY(!w.IsBusy());
    QCOMPARE(closed.count(), 0);
    QCOMPARE(h.Statuses(), std::vector<std::string>{""});
    QVERIFY(WindowHarness::Messages().empty());
}

void MainWindowTest::movesWhenItsBackgroundIsDragged() {
    WindowHarness h;
    MainDialog& w = h.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint start = w.pos();
    const QPoint grip(60, 400);  // the command panel's background, below the buttons
    // The press lands on the window's background behind the controls and reaches the window.
    QWidget* background = w.childAt(grip);
    QVERIFY(background != nullptr && background->findChildren<SortListCtrl*>().size() == 1);
    QTest::mousePress(background, Qt::LeftButton, Qt::NoModifier, background->mapFrom(&w, grip));
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(30, 20)), w.mapToGlobal(QPointF(grip + QPoint(30, 20))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &move);
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, grip + QPoint(30, 20));
    QCOMPARE(w.pos(), start + QPoint(30, 20));
}

void MainWindowTest::firstRunLeavesTheHelpClosed() {
    WindowHarness h({}, true);
    MainDialog& w = h.Open();
    QVERIFY(HelpWindowOnScreen() == nullptr);
    QCOMPARE(StoredNumber("FirstRun"), 0);
    // Help Topics opens it in a normal window, and brings back the same window later.
    w.OnCommand(MainDialog::kCmdHelpTopics);
    QWidget* help = HelpWindowOnScreen();
    QVERIFY(help != nullptr && !help->isMaximized());
    help->showMinimized();
    w.OnCommand(MainDialog::kCmdHelpTopics);
    QCOMPARE(HelpWindowOnScreen(), help);
    QVERIFY(!help->isMinimized());
    QPointer<QWidget> watched(help);
    h.Destroy();  // closing the program closes its help window
    QTRY_VERIFY(watched.isNull() || !watched->isVisible());
}

void MainWindowTest::contextMenuFollowsTheSelection() {
    WindowHarness h;
    MainDialog& w = h.Open();
    const int rowCommands[] = {MainDialog::kCmdRemoveAll, MainDialog::kCmdConvertAll};
    const int selectionCommands[] = {MainDialog::kCmdRemove, MainDialog::kCmdConvertSelected};
    const int singleCommands[] = {MainDialog::kCmdPlaySource, MainDialog::kCmdBrowseSource};
    const int convertedCommands[] = {MainDialog::kCmdPlayDestination, MainDialog::kCmdBrowseDestination};

    w.EnableContextMenuItems();
    for (int id : rowCommands) QVERIFY(!Enabled(w, id));
    for (int id : selectionCommands) QVERIFY(!Enabled(w, id));
    QVERIFY(Enabled(w, MainDialog::kCmdAddFiles) && Enabled(w, MainDialog::kCmdAddFolder));

    WriteSineWav(h.File("x.wav"), 8000, 1, 0.2);
    WriteSineWav(h.File("y.wav"), 8000, 1, 0.2);
    h.AddAndWait({h.File("x.wav"), h.File("y.wav")});
    h.SelectRows({});
    w.EnableContextMenuItems();
    for (int id : rowCommands) QVERIFY(Enabled(w, id));
    for (int id : selectionCommands) QVERIFY(!Enabled(w, id));
    for (int id : singleCommands) QVERIFY(!Enabled(w, id));

    h.SelectRows({1});
    w.EnableContextMenuItems();
    for (int id : selectionCommands) QVERIFY(Enabled(w, id));
    for (int id : singleCommands) QVERIFY(Enabled(w, id));
    for (int id : convertedCommands) QVERIFY(!Enabled(w, id));
    w.OnCommand(MainDialog::kCmdPlaySource);
    w.OnCommand(MainDialog::kCmdBrowseSource);
    QCOMPARE(h.opened, std::vector<std::string>{h.File("y.wav")});
    QCOMPARE(h.shown, std::vector<std::string>{h.File("y.wav")});

    h.SelectRows({0, 1});
    w.EnableContextMenuItems();
    for (int id : selectionCommands) QVERIFY(Enabled(w, id));
    for (int id : singleCommands) QVERIFY(!Enabled(w, id));
    for (int id : convertedCommands) QVERIFY(!Enabled(w, id));

    // The context-menu key opens the menu at the centre of the list, with the items enabled afresh.
    h.SelectRows({0});
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
    QCoreApplication::sendEvent(w.list(), &key);
    VardelMenu* menu = w.contextMenu();
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(Enabled(w, MainDialog::kCmdPlaySource));
    const QPoint centre = w.list()->mapToGlobal(w.list()->rect().center());
    QVERIFY(menu->geometry().contains(centre) || menu->pos() == centre);
    menu->hide();
}

void MainWindowTest::helpMenuAndAboutBoxOpenTheirAddresses() {
    WindowHarness h;
    MainDialog& w = h.Open();
    w.OnCommand(MainDialog::kCmdHelpMenu);
    QTRY_VERIFY(w.helpMenu()->isVisible());
    w.helpMenu()->hide();
    for (int id : {MainDialog::kCmdTellFriend, MainDialog::kCmdFeedback, MainDialog::kCmdHomepage,
                   MainDialog::kCmdCheckVersion})
        w.helpMenu()->ActionFor(id)->trigger();
    QCOMPARE(h.opened, (std::vector<std::string>{kTellFriendMail, kSupportMail, kWebSite, kCheckUpdatesAddress}));
    // Nothing that does not exist: the home page, and a plain mail naming it.
    QCOMPARE(std::string(kCheckUpdatesAddress), std::string(kWebSite));
    QVERIFY(QUrl(kTellFriendMail).query(QUrl::FullyDecoded).contains("body=https://pelloran.org/"));
    h.opened.clear();
    QTest::mouseClick(w.button(MainDialog::kCmdHomepage), Qt::LeftButton);
    QCOMPARE(h.opened, std::vector<std::string>{kWebSite});
    h.opened.clear();

    w.OnCommand(MainDialog::kCmdAbout);
    AboutBox* about = w.findChild<AboutBox*>();
    QVERIFY(about != nullptr && about->isVisible());
    QVERIFY(about->findChild<QLabel*>() != nullptr);
    bool named = false;
    for (QLabel* label : about->findChildren<QLabel*>()) named |= label->text() == QString("Pelloran v") + PELLORAN_VERSION;
    QVERIFY(named);
    QCOMPARE(about->homepageLink()->text(), QString("Visit Pelloran Homepage"));
    QCOMPARE(about->homepageLink()->underline(), int(CLinkStatic::kUnderlineAlways));
    QTest::mouseClick(about->checkUpdatesButton(), Qt::LeftButton);
    QTest::mouseClick(about->tellFriendButton(), Qt::LeftButton);
    QTest::mouseClick(about->encoderLink(), Qt::LeftButton);
    QTest::mouseClick(about->licenseLink(), Qt::LeftButton);
    QCOMPARE(h.opened,
             (std::vector<std::string>{kCheckUpdatesAddress, kTellFriendMail, kLameProjectAddress, kLicenseAddress}));
    bool notice = false;  // the licence's notice: copyright, the GPL and no warranty
    for (QLabel* label : about->findChildren<QLabel*>())
        notice |= label->text().contains("GNU General Public License") && label->text().contains("NO WARRANTY");
    QVERIFY(notice);
    QVERIFY(about->encoderLink()->visited());
    about->close();
}

void MainWindowTest::closingWaitsForTheWorkToStop() {
    WindowHarness h;
    MainDialog& w = h.Open();
    std::vector<std::string> files;
    for (int i = 0; i < 300; ++i) {
        files.push_back(h.File("c" + std::to_string(i) + ".wav"));
        WriteSineWav(files.back(), 8000, 1, 0.05);
    }
    QSignalSpy closed(&w, &MainDialog::Closed);
    QSignalSpy added(&w, &MainDialog::AddingFinished);
    w.AddPaths(files);
    w.close();
    QCOMPARE(closed.count(), 0);  // the addition is cancelled first
    QVERIFY(w.isVisible());
    QVERIFY(added.wait(60000));
    QTRY_COMPARE(closed.count(), 1);
    QVERIFY(w.list()->RowCount() < 300);
}

void MainWindowTest::questionsFromTheWorkerAreAnsweredOnScreen() {
    WindowHarness h;
    MainDialog& w = h.Open();
    GuiQuestions questions(&w);
    for (auto button : {QMessageBox::Yes, QMessageBox::No}) {
        std::atomic<int> answer{-1};
        std::thread worker([&] { answer = questions.Ask("Convert?") ? 1 : 0; });
        QTRY_COMPARE(WindowHarness::Messages().size(), size_t(1));
        QMessageBox* box = WindowHarness::Messages()[0];
        QCOMPARE(box->windowTitle(), QString("Pelloran"));
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(box->text(), QString("Convert?"));
        QTest::mouseClick(box->button(button), Qt::LeftButton);
        worker.join();
        QCOMPARE(answer.load(), button == QMessageBox::Yes ? 1 : 0);
        QTRY_VERIFY(WindowHarness::Messages().empty());
    }
    // A window going away answers No to a question still waiting, and to later ones.
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = questions.Ask("Still there?") ? 1 : 0; });
    QTRY_COMPARE(WindowHarness::Messages().size(), size_t(1));
    questions.Abandon();
    worker.join();
    QCOMPARE(answer.load(), 0);
    QVERIFY(!questions.Ask("Again?"));
}

void MainWindowTest::skinButtonShowsItsBorderOnlyWhenActive() {
    QWidget parent;
    parent.resize(200, 100);
    CSkinButton button("X", &parent);
    button.setGeometry(10, 10, 60, 30);
    button.SetTransparent(false);
    button.SetColors(Qt::black, std::nullopt);
    button.SetButtonFont(QFont("DejaVu Sans", 12));
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    const QColor light = button.palette().color(QPalette::Light);
    const QColor shadow = button.palette().color(QPalette::Dark);
    const QColor face = button.palette().color(QPalette::Button);

    QImage idle = button.grab().toImage();
    QCOMPARE(idle.pixelColor(0, 0).rgb(), QColor(face).rgb());  // flat: no border when idle
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(15, 15));
    QCoreApplication::sendEvent(&button, &enter);
    QVERIFY(button.hovering());
    QImage hover = button.grab().toImage();
    QCOMPARE(hover.pixelColor(0, 0).rgb(), QColor(light).rgb());
    QCOMPARE(hover.pixelColor(59, 29).rgb(), QColor(shadow).rgb());
    button.setDown(true);
    QImage pressed = button.grab().toImage();
    QCOMPARE(pressed.pixelColor(0, 0).rgb(), QColor(shadow).rgb());  // sunken
    QCOMPARE(pressed.pixelColor(59, 29).rgb(), QColor(light).rgb());
    QCOMPARE(InkBox(pressed), InkBox(hover).translated(1, 1));
    button.setDown(false);

    // 3-D buttons always have their border; the parent picture shows through a transparent button.
    button.SetBorder(true, false);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    QCOMPARE(button.grab().toImage().pixelColor(0, 0).rgb(), QColor(light).rgb());
    QPixmap picture(200, 100);
    picture.fill(QColor(10, 200, 30));
    button.SetTransparent(true);
    button.SetBorder(false, true);
    button.SetParentBackground(picture);
    QCOMPARE(button.grab().toImage().pixelColor(1, 1).rgb(), QColor(10, 200, 30).rgb());
    // A bitmap with the resize flag sizes the button to it plus the pressed offset.
    QPixmap skin(40, 20);
    skin.fill(Qt::blue);
    QVERIFY(button.SetBitmaps(skin, QPixmap(), true));
    QCOMPARE(button.size(), QSize(41, 21));
    QVERIFY(!button.SetBitmaps(QPixmap(), QPixmap(), true));
}

void MainWindowTest::linkOpensItsAddressOrSaysWhyNot() {
    QCOMPARE(HyperlinkErrorText(26), QString("A sharing violation occurred. "));
    QCOMPARE(HyperlinkErrorText(4), QString("Unknown Error (4) occurred."));
    QCOMPARE(HyperlinkErrorText(31), QString("There is no application associated\nwith the given filename extension."));

    QWidget parent;
    parent.resize(300, 100);
    CLinkStatic link("", &parent);
    link.move(10, 10);
    link.SetAddress("https://example.org/");
    link.Attach();
    QCOMPARE(link.text(), QString("https://example.org/"));  // an empty text shows the address
    QCOMPARE(link.toolTip(), QString("https://example.org/"));
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCOMPARE(link.CurrentColor(), QColor(0, 0, 238));

    // Hovering underlines; leaving ends within about 100 ms.
    QCursor::setPos(link.mapToGlobal(link.rect().center()));
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(12, 12));
    QCoreApplication::sendEvent(&link, &enter);
    QVERIFY(link.hovering());
    QVERIFY(link.font().underline());
    QCOMPARE(link.CurrentColor(), QColor(255, 0, 0));
    QCursor::setPos(parent.mapToGlobal(QPoint(290, 90)));
    QTRY_VERIFY_WITH_TIMEOUT(!link.hovering(), 1000);
    QVERIFY(!link.font().underline());

    int calls = 0;
    link.opener = [&](const QString&) {
        ++calls;
        return 26;
    };
    QTest::mouseClick(&link, Qt::LeftButton);
    QCOMPARE(calls, 1);
    QVERIFY(!link.visited());
    auto boxes = WindowHarness::Messages();
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0]->text(), QString("Unable to open hyperlink:\n\nA sharing violation occurred. "));
    WindowHarness::CloseMessages();

    link.opener = [](const QString&) { return 42; };
    QTest::mouseClick(&link, Qt::LeftButton);
    QVERIFY(link.visited());
    QCOMPARE(link.CurrentColor(), QColor(85, 26, 139));
    link.SetUnderline(CLinkStatic::kUnderlineAlways);
    QVERIFY(link.font().underline());
}

void MainWindowTest::menuItemsCarryTheirImagesInTheFlatStyle() {
    WindowHarness h;
    MainDialog& w = h.Open();
    QCOMPARE(VardelMenu::drawModeOther, 1);
    QVERIFY(VardelMenu::FlatStyle());
    VardelMenu* menu = w.contextMenu();
    QVERIFY(VardelMenu::IsVardelMenu(menu));
    QCOMPARE(menu->actions().size(), 15);  // 12 items and 3 separators
    QCOMPARE(menu->ActionFor(MainDialog::kCmdAddFiles)->text(), QString("&Add Files...\tCtrl+O"));
    QCOMPARE(w.helpMenu()->ActionFor(MainDialog::kCmdAbout)->text(), QString("&About..."));
    // Every command has its toolbar image, at the toolbar's position.
    QCOMPARE(menu->ImageIndexFor(MainDialog::kCmdPlaySource), 0);
    QCOMPARE(menu->ImageIndexFor(MainDialog::kCmdAddFiles), 6);
    QCOMPARE(w.helpMenu()->ImageIndexFor(MainDialog::kCmdAbout), 15);
    QVERIFY(!menu->ActionFor(MainDialog::kCmdRemove)->icon().isNull());

    // Item sizes of the flat style.
    QStyleOptionMenuItem separator;
    separator.menuItemType = QStyleOptionMenuItem::Separator;
    separator.font = menu->font();
    QCOMPARE(VardelMenuStyle::Instance()->sizeFromContents(QStyle::CT_MenuItem, &separator, QSize(), menu).height(), 3);
    QStyleOptionMenuItem item;
    item.menuItemType = QStyleOptionMenuItem::Normal;
    item.font = menu->font();
    item.text = "&Play Source";
    const QSize size = VardelMenuStyle::Instance()->sizeFromContents(QStyle::CT_MenuItem, &item, QSize(), menu);
    QVERIFY(size.height() >= VardelMenu::kImageHeight + 7);
    QCOMPARE(Lighten(QColor(100, 0, 255), 0.5), QColor(177, 127, 255));

    // Drawn: the image column is tinted apart from the text area.
    menu->popup(w.mapToGlobal(QPoint(200, 200)));
    QTRY_VERIFY(menu->isVisible());
    const QImage shot = menu->grab().toImage();
    const QColor column = Lighten(menu->palette().color(QPalette::Button), 0.25);
    QCOMPARE(shot.pixelColor(3, shot.height() / 2).rgb(), QColor(column).rgb());
    menu->hide();
}

void MainWindowTest::followsLightAndDarkPalettes() {
    WindowHarness h;
    MainDialog& w = h.Open();
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Link, QColor(0x7c, 0xb8, 0xff));
    QPalette light(QColor(0xef, 0xef, 0xef), QColor(0xf6, 0xf6, 0xf6));
    const auto lightness = [&](QPoint at) { return w.background().toImage().pixelColor(at * w.devicePixelRatio()).lightness(); };
    const QPoint band(200, 20), panel(20, 330), edge(2, 300);
    for (const bool isDark : {true, false}) {
        w.setPalette(isDark ? dark : light);
        QTRY_VERIFY((lightness(panel) < 128) == isDark);
        // The painted parts follow the palette; the title band keeps its own colours.
        for (const QPoint at : {panel, edge})
            QVERIFY2((lightness(at) < 100) == isDark, qPrintable(QString("%1,%2").arg(at.x()).arg(at.y())));
        QVERIFY(lightness(band) < 128);
        // The link keeps to the palette's link colour, readable on the panel.
        const QImage link = w.button(MainDialog::kCmdHomepage)->grab().toImage();
        bool linkColour = false;
        for (int y = 0; y < link.height() && !linkColour; ++y) {
            for (int x = 0; x < link.width() && !linkColour; ++x)
                linkColour = link.pixelColor(x, y).rgb() == w.palette().color(QPalette::Link).rgb();
        }
        QVERIFY(linkColour);
    }
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
