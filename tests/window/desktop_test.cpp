// The window on the desktop: its command line, the hand-over to a running window, resizing and its saved
// size, the keyboard (focus mark, tab order), the pictures at 2x, and what `cmake --install` puts in place.

#include <QtCore/QProcess>
#include <QtGui/QMouseEvent>
#include <QtNetwork/QLocalSocket>
#include <QtWidgets/QComboBox>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

#include "gui/controls/Backdrop.h"
#include "gui/controls/SkinButton.h"
#include "gui/controls/VardelMenu.h"
#include "gui/window/Launch.h"
#include "tests/window/WindowTest.h"

using namespace pelloran;
using namespace pelloran::test;

namespace {

// pelloran run as a user would: without a display unless one is given.
CommandResult RunWindowProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
    for (const auto& e : env) argv.push_back(e);
    argv.push_back(PELLORAN_WINDOW_PATH);
    for (const auto& a : args) argv.push_back(a);
    return Run(argv);
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void commandLineGivesPathsHelpAndVersion();
    void helpAndVersionNeedNoDisplay();
    void secondStartHandsItsFilesToTheRunningWindow();
    void strangersOnTheSocketAreDropped();
    void resizesMaximisesAndRemembersItsSize();
    void fitsTheScreenItOpensOn();
    void keyboardFocusIsMarkedAndFollowsTheLayout();
    void picturesComeAtTwiceTheSize();
    void installPutsEverythingInPlace();
};

void DesktopTest::commandLineGivesPathsHelpAndVersion() {
    const struct {
        QStringList args;
        std::optional<int> exit;
        QStringList paths;
        const char* out;
    } cases[] = {
        {{}, std::nullopt, {}, ""},
        {{"a.wav", "/music/b.mp3", "sub/../c.ogg"}, std::nullopt, {"/home/ana/a.wav", "/music/b.mp3", "/home/ana/c.ogg"}, ""},
        {{"file:///music/My%20Song.flac"}, std::nullopt, {"/music/My Song.flac"}, ""},
        {{"--", "-odd.wav", "--help"}, std::nullopt, {"/home/ana/-odd.wav", "/home/ana/--help"}, ""},
        {{"a.wav", "--help"}, 0, {}, "Usage: pelloran [FILE|FOLDER]..."},
        {{"-v"}, 0, {}, "pelloran " PELLORAN_VERSION "\n"},
        {{"--version"}, 0, {}, "pelloran " PELLORAN_VERSION "\n"},
        {{"--frobnicate"}, 2, {}, ""},
    };
    for (const auto& c : cases) {
        const LaunchRequest r = ParseLaunchArguments(c.args, "/home/ana");
        QCOMPARE(r.exitCode, c.exit);
        QCOMPARE(r.paths, c.paths);
        QVERIFY2(*c.out == '\0' ? r.out.isEmpty() : r.out.startsWith(QString::fromUtf8(c.out)), qPrintable(r.out));
        if (c.exit == 2) QVERIFY(r.error.contains("unknown option '--frobnicate'"));
    }
}

void DesktopTest::helpAndVersionNeedNoDisplay() {
    const CommandResult version = RunWindowProgram({"--version"});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, std::string("pelloran ") + PELLORAN_VERSION + "\n");
    const CommandResult help = RunWindowProgram({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.find("Usage: pelloran [FILE|FOLDER]...") == 0);
    QVERIFY(help.err.empty());
}

void DesktopTest::secondStartHandsItsFilesToTheRunningWindow() {
    WindowHarness h;
    MainDialog& w = h.Open();
    TempDir runtime;
    chmod(runtime.path().c_str(), 0700);
    const QString socket = QString::fromStdString(runtime / "pelloran-window");
    InstanceServer server;
    QVERIFY(server.Listen(socket));
    InstanceServer second;
    QVERIFY(!second.Listen(socket));  // one window per user
    connect(&server, &InstanceServer::PathsReceived, &w, [&w](const QStringList& paths) {
        std::vector<std::string> list;
        for (const QString& p : paths) list.push_back(p.toStdString());
        w.OpenPaths(list);
    });
    WriteSineWav(h.File("one.wav"), 8000, 1, 0.5);
    fs::create_directories(h.File("album/disc"));
    WriteSineWav(h.File("album/disc/two.wav"), 8000, 1, 0.5);
    WriteSineWav(h.File("album/three.wav"), 8000, 1, 0.5);

    // The real program, started in the files' folder with a relative path and a folder.
    QProcess program;
    program.setWorkingDirectory(QString::fromStdString(h.File("")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
    program.setProcessEnvironment(env);
    QSignalSpy ended(&program, &QProcess::finished);
    program.start(PELLORAN_WINDOW_PATH, {"one.wav", QString::fromStdString(h.File("album"))});
    QVERIFY(ended.wait(30000));
    QCOMPARE(program.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(w.list()->RowCount(), 3, 30000);
    QTRY_VERIFY(!w.IsBusy());
    QCOMPARE(h.Column(SortListCtrl::kColFile), (std::vector<std::string>{"one.wav", "three.wav", "two.wav"}));

    // Paths that come while the window is busy wait for it.
    WriteSineWav(h.File("four.wav"), 8000, 1, 0.5);
    WriteSineWav(h.File("five.wav"), 8000, 1, 0.5);
    w.OpenPaths({h.File("four.wav")});
    QVERIFY(w.IsBusy());
    w.OpenPaths({h.File("five.wav")});
    QTRY_COMPARE_WITH_TIMEOUT(w.list()->RowCount(), 5, 30000);
}

void DesktopTest::strangersOnTheSocketAreDropped() {
    TempDir runtime;
    const QString name = QString::fromStdString(runtime / "socket");
    InstanceServer server;
    QVERIFY(server.Listen(name));
    QSignalSpy received(&server, &InstanceServer::PathsReceived);
    for (const QByteArray& junk : {QByteArray("GET / HTTP/1.0\r\n\r\n"), QByteArray(70000, 'x')}) {
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(2000));
        QSignalSpy closed(&socket, &QLocalSocket::disconnected);
        socket.write(junk);
        QVERIFY(closed.wait(10000));
    }
    QCOMPARE(received.count(), 0);
    // The socket file of a window that died (bound, never removed, nobody listening) is taken over.
    const std::string stale = runtime / "stale";
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    QVERIFY(fs::exists(stale));
    InstanceServer heir;
    QVERIFY(heir.Listen(QString::fromStdString(stale)));
}

void DesktopTest::resizesMaximisesAndRemembersItsSize() {
    WindowHarness h;
    {
        MainDialog& w = h.Open();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.minimumSize(), QSize(MainDialog::kWidth, MainDialog::kHeight));
        QCOMPARE(w.size(), QSize(MainDialog::kWidth, MainDialog::kHeight));
        QCOMPARE(w.list()->geometry(), QRect(137, 63, 552, 465));

        // Dragging the bottom-right corner: the list grows, the caption buttons keep to the right edge.
        const QPoint corner(w.width() - 2, w.height() - 2);
        QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, corner);
        QMouseEvent move(QEvent::MouseMove, QPointF(corner + QPoint(101, 62)),
                         w.mapToGlobal(QPointF(corner + QPoint(101, 62))), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &move);
        QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, corner + QPoint(101, 62));
        QTRY_COMPARE(w.size(), QSize(800, 600));
        QCOMPARE(w.list()->geometry(), QRect(137, 63, 653, 527));
        QCOMPARE(w.button(MainDialog::kCmdClose)->geometry(), QRect(770, 11, 21, 21));
        QCOMPARE(w.background().size(), QSize(800, 600));
        // Never smaller than the first size.
        w.resize(300, 200);
        QTRY_COMPARE(w.size(), QSize(MainDialog::kWidth, MainDialog::kHeight));
        w.resize(760, 580);

        w.OnCommand(MainDialog::kCmdMaximize);
        QTRY_VERIFY(w.isMaximized());
        w.OnCommand(MainDialog::kCmdMaximize);
        QTRY_VERIFY(!w.isMaximized());
        QTRY_COMPARE(w.size(), QSize(760, 580));
        h.Destroy();
    }
    MainDialog& again = h.Open();
    QCOMPARE(again.size(), QSize(760, 580));
}

// Also run on a 1280 x 800 screen at 200 % less its panels (window_small_screen): the window shrinks to the
// screen, with every control inside it and the command panel clear of the link.
void DesktopTest::fitsTheScreenItOpensOn() {
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    WindowHarness h;
    MainDialog& w = h.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize first(MainDialog::kWidth, MainDialog::kHeight);
    QCOMPARE(w.size(), first.boundedTo(room));
    w.resize(1, 1);
    QTRY_COMPARE(w.size(), first.boundedTo(room));  // nor smaller
    for (QWidget* child : w.findChildren<QWidget*>()) {
        if (child->isVisible() && child->parentWidget() != nullptr && child->parentWidget()->parentWidget() == &w)
            QVERIFY2(w.rect().contains(child->geometry()), qPrintable(child->metaObject()->className()));
    }
    QVERIFY(w.button(MainDialog::kCmdOptions)->geometry().bottom() < w.button(MainDialog::kCmdHomepage)->y());
    QVERIFY(w.list()->width() >= 300);

    // So do the windows it opens.
    w.OnCommand(MainDialog::kCmdHelpTopics);
    w.OnCommand(MainDialog::kCmdAbout);
    for (QWidget* shown : QApplication::topLevelWidgets()) {
        if (shown == &w || !shown->isVisible()) continue;
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        QVERIFY2(shown->width() <= room.width() && shown->height() <= room.height(),
                 qPrintable(QString("%1: %2 x %3").arg(shown->windowTitle()).arg(shown->width()).arg(shown->height())));
    }
}

void DesktopTest::keyboardFocusIsMarkedAndFollowsTheLayout() {
    WindowHarness h;
    MainDialog& w = h.Open();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    CSkinButton* convert = w.button(MainDialog::kCmdConvertAll);
    w.list()->setFocus();
    const QImage plain = convert->grab().toImage();
    convert->setFocus();
    QTRY_VERIFY(convert->hasFocus());
    QVERIFY(convert->grab().toImage() != plain);  // the focus mark

    // Tab goes down the command panel, to the format right after Convert, then to the list.
    w.button(MainDialog::kCmdAddFiles)->setFocus();
    const std::vector<QWidget*> expected = {w.button(MainDialog::kCmdAddFolder), w.button(MainDialog::kCmdRemoveAll),
                                            convert, w.formatSelector(), w.button(MainDialog::kCmdOptions), w.list()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void DesktopTest::picturesComeAtTwiceTheSize() {
    WindowHarness h;
    MainDialog& w = h.Open();
    const struct {
        const char* path;
        QSize size;
    } pictures[] = {{":/images/button.png", {107, 27}},  {":/images/button-hover.png", {107, 27}},
                    {":/images/help.png", {16, 16}},     {":/images/minimize.png", {16, 16}},
                    {":/images/maximize.png", {16, 16}}, {":/images/close.png", {16, 16}}};
    for (const auto& p : pictures) QCOMPARE(ArtIcon(p.path).pixmap(p.size, 2.0).size(), p.size * 2);
    const QIcon image = w.contextMenu()->ActionFor(MainDialog::kCmdPlaySource)->icon();
    QCOMPARE(image.pixmap(QSize(18, 17), 2.0).size(), QSize(36, 34));

    // A skinned button shows its part of a background drawn at scale 2.
    QPixmap background(QSize(MainDialog::kWidth, MainDialog::kHeight) * 2);
    background.setDevicePixelRatio(2);
    background.fill(Qt::red);
    CSkinButton* options = w.button(MainDialog::kCmdOptions);
    options->SetBitmaps(QPixmap(), QPixmap(), false);
    options->SetDrawText(false);
    options->SetParentBackground(background);
    const QImage shown = options->grab().toImage();
    QCOMPARE(shown.pixel(shown.width() / 2, shown.height() / 2), QColor(Qt::red).rgb());
}

void DesktopTest::installPutsEverythingInPlace() {
    TempDir prefix;
    const CommandResult install = Run({"cmake", "--install", PELLORAN_BINARY_DIR, "--prefix", prefix.path().string()});
    QVERIFY2(install.exitCode == 0, install.err.c_str());
    const std::string root = prefix.path().string();
    const char* files[] = {
        "bin/pelloran",
        "bin/pelloran-cli",
        "share/applications/org.pelloran.Pelloran.desktop",
        "share/metainfo/org.pelloran.Pelloran.metainfo.xml",
        "share/icons/hicolor/32x32/apps/org.pelloran.Pelloran.png",
        "share/icons/hicolor/48x48/apps/org.pelloran.Pelloran.png",
        "share/icons/hicolor/256x256/apps/org.pelloran.Pelloran.png",
        "share/icons/hicolor/scalable/apps/org.pelloran.Pelloran.svg",
        "share/man/man1/pelloran.1.gz",
        "share/man/man1/pelloran-cli.1.gz",
        "share/doc/pelloran/help/index.html",
        "share/doc/pelloran/copyright",
    };
    for (const char* f : files) QVERIFY2(fs::is_regular_file(root + "/" + f), f);
    QVERIFY(fs::status(root + "/bin/pelloran-cli").permissions() != fs::perms::none);

    const std::string desktop = root + "/share/applications/org.pelloran.Pelloran.desktop";
    const std::vector<uint8_t> bytes = ReadBytes(desktop);
    const std::string text(bytes.begin(), bytes.end());
    QVERIFY(text.find("\nExec=pelloran %F\n") != std::string::npos);
    QVERIFY(text.find("MimeType=audio/mpeg;") != std::string::npos);
    if (!HaveTool("desktop-file-validate") || !HaveTool("appstreamcli"))
        QSKIP("desktop-file-validate or appstreamcli missing (scripts/install-deps installs them)");
    const CommandResult entry = Run({"desktop-file-validate", desktop});
    QVERIFY2(entry.exitCode == 0 && entry.out.empty(), (entry.out + entry.err).c_str());
    const CommandResult meta =
        Run({"appstreamcli", "validate", "--no-net", root + "/share/metainfo/org.pelloran.Pelloran.metainfo.xml"});
    QVERIFY2(meta.exitCode == 0, (meta.out + meta.err).c_str());
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
