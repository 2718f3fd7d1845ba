// The window on the desktop: its command line, the hand-over to a running window, resizing and its saved
// size, the keyboard (focus mark, tab order), the pictures at 2x, and what `cmake --install` puts in place.

#include <QtCore/QProcess>
#include <QtGui/QMouseEvent>
#include <QtNetwork/QLocalSocket>
#include <QtWidgets/QComboBox>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>

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

// Sets or clears environment variables for one scope.
class EnvScope {
public:
    EnvScope(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            value ? setenv(name, value, 1) : unsetenv(name);
        }
    }
    ~EnvScope() {
        for (const auto& [name, value] : saved_)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The real program as a later start, given the name "caf\xe9.wav" (Latin-1, not UTF-8) through a shell
// since QProcess passes only text; without a runtime folder, with cache as the cache folder.
void StartWithLatin1Name(QProcess& program, const std::string& folder, const std::string& cache) {
    program.setWorkingDirectory(QString::fromStdString(folder));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("XDG_RUNTIME_DIR");
    env.insert("XDG_CACHE_HOME", QString::fromStdString(cache));
    program.setProcessEnvironment(env);
    program.start("/bin/sh", {"-c", "exec \"$0\" \"$(printf 'caf\\351.wav')\"", PELLORAN_WINDOW_PATH});
}

// Runs body in a child process as the unprivileged user "nobody"; its exit code, or -1.
template <class Body>
int AsNobody(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        // Only system calls from here: the parent has threads.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        _exit(body());
    }
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(child, &status, WNOHANG) == 0; ++i) QTest::qWait(10);
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void commandLineGivesPathsHelpAndVersion();
    void helpAndVersionNeedNoDisplay();
    void secondStartHandsItsFilesToTheRunningWindow();
    void strangersOnTheSocketAreDropped();
    void socketFolderIsPrivateOrRefused();
    void namesThatAreNotUtf8AreKeptFromTheCommandLine();
    void handOverWithoutARuntimeFolderKeepsNamesThatAreNotUtf8();
    void otherUsersAreNeitherHeardNorTold();
    void resizesMaximisesAndRemembersItsSize();
    void fitsTheScreenItOpensOn();
    void keyboardFocusIsMarkedAndFollowsTheLayout();
    void picturesComeAtTwiceTheSize();
    void installPutsEverythingInPlace();
    void desktopEntryNeverBecomesTheDefault();
    void bashCompletesNamesWithSpaces();
};

void DesktopTest::commandLineGivesPathsHelpAndVersion() {
    const struct {
        std::vector<std::string> args;
        std::optional<int> exit;
        std::vector<std::string> paths;
        const char* out;
    } cases[] = {
        {{}, std::nullopt, {}, ""},
        {{"a.wav", "/music/b.mp3", "sub/../c.ogg"}, std::nullopt, {"/home/ana/a.wav", "/music/b.mp3", "/home/ana/c.ogg"}, ""},
        {{"file:///music/My%20Song.flac"}, std::nullopt, {"/music/My Song.flac"}, ""},
        {{"--", "-odd.wav", "--help"}, std::nullopt, {"/home/ana/-odd.wav", "/home/ana/--help"}, ""},
        // Names that are not UTF-8 keep their bytes, given plainly or percent-escaped in an address.
        {{"caf\xe9.wav", "file:///music/caf%E9%20au%20lait.wav"}, std::nullopt,
         {"/home/ana/caf\xe9.wav", "/music/caf\xe9 au lait.wav"}, ""},
        {{"./x/../dir/", "file://elsewhere/a.wav"}, std::nullopt, {"/home/ana/dir"}, ""},
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
    connect(&server, &InstanceServer::PathsReceived, &w, &MainDialog::OpenHandedPaths);
    // The user works in another window meanwhile.
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
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
    // The window came to the front with the keyboard on its list.
    QTRY_VERIFY(w.isActiveWindow());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.list()));

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

void DesktopTest::socketFolderIsPrivateOrRefused() {
    // No runtime folder, or one others may enter: the socket goes into a folder of our own in the cache folder.
    TempDir loose;
    chmod(loose.path().c_str(), 0777);
    for (const char* runtime : {static_cast<const char*>(nullptr), loose.path().c_str()}) {
        TempDir cache;
        const EnvScope env{{"XDG_RUNTIME_DIR", runtime}, {"XDG_CACHE_HOME", cache.path().c_str()}};
        const InstanceSocket socket = InstanceSocketName();
        QCOMPARE(socket.name.toStdString(), cache / "pelloran/pelloran-window");
        struct stat info {};
        QCOMPARE(lstat((cache / "pelloran").c_str(), &info), 0);
        QVERIFY(S_ISDIR(info.st_mode) && info.st_uid == geteuid());
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
        QCOMPARE(InstanceSocketName().name, socket.name);  // and the next start finds it there
    }
    {
        TempDir home;
        const EnvScope env{{"XDG_RUNTIME_DIR", nullptr}, {"XDG_CACHE_HOME", nullptr}, {"HOME", home.path().c_str()}};
        QCOMPARE(InstanceSocketName().name.toStdString(), home / ".cache/pelloran/pelloran-window");
    }

    // A folder someone else put in place is refused, and nothing is made in it or through it.
    enum Planted { OpenToAll, LinkToOurs, Others };
    const struct {
        Planted planted;
        const char* said;
    } cases[] = {{OpenToAll, "has mode 0777, not 0700"},
                 {LinkToOurs, "is a link or not a folder"},
                 {Others, "belongs to another user"}};
    for (const auto& c : cases) {
        if (c.planted == Others && geteuid() != 0) continue;  // only root can give a folder away
        TempDir cache;
        TempDir elsewhere;
        chmod(elsewhere.path().c_str(), 0700);
        const std::string folder = cache / "pelloran";
        if (c.planted == LinkToOurs) {
            fs::create_directory_symlink(elsewhere.path(), folder);
        } else {
            fs::create_directory(folder);
            chmod(folder.c_str(), c.planted == OpenToAll ? 0777 : 0700);
            if (c.planted == Others) QCOMPARE(chown(folder.c_str(), 65534, 65534), 0);
        }
        const EnvScope env{{"XDG_RUNTIME_DIR", nullptr}, {"XDG_CACHE_HOME", cache.path().c_str()}};
        const InstanceSocket socket = InstanceSocketName();
        QVERIFY(socket.name.isEmpty());
        QVERIFY2(socket.error.contains(QString::fromStdString(folder)) && socket.error.contains(c.said),
                 qPrintable(socket.error));
        const std::string inside = c.planted == LinkToOurs ? elsewhere.path().string() : folder;
        QVERIFY(fs::is_empty(inside));
        struct stat info {};
        QCOMPARE(stat(inside.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(c.planted == OpenToAll ? 0777 : 0700));
    }

    // The real program says so and opens its window without the hand-over.
    TempDir cache;
    fs::create_directory(cache / "pelloran");
    chmod((cache / "pelloran").c_str(), 0777);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(cache / "config"));
    env.remove("XDG_RUNTIME_DIR");
    env.insert("XDG_CACHE_HOME", QString::fromStdString(cache.path().string()));
    program.setProcessEnvironment(env);
    program.start(PELLORAN_WINDOW_PATH, {});
    QVERIFY(program.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += program.readAllStandardError()).contains("refusing to use it"), 30000);
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished();
    QVERIFY(fs::is_empty(cache / "pelloran"));
}

void DesktopTest::namesThatAreNotUtf8AreKeptFromTheCommandLine() {
    // A first start: the window lists the file the command line named, converts it and writes its output.
    TempDir outDir;
    WindowHarness h([&](ConvertSettings& s) {
        s.OutputFormat = kOutputWav;
        s.DestOutputFolderOpt = kOutputIntoFolder;
        s.DestSpecifiedFolder = outDir.path().string();
        s.CreateDirs = 0;
        s.OutputFiles2MyDocuments = 0;
        s.BrowseOutputFolder = 0;
    });
    MainDialog& w = h.Open();
    WriteSineWav(h.File("caf\xe9.wav"), 8000, 1, 0.3);
    const LaunchRequest request = ParseLaunchArguments({"caf\xe9.wav"}, h.File(""));
    QSignalSpy added(&w, &MainDialog::AddingFinished);
    w.OpenPaths(request.paths);
    QVERIFY(added.wait(60000));
    QCOMPARE(w.list()->RowCount(), 1);
    QCOMPARE(w.list()->Row(0)->item().sourcePath, h.File("caf\xe9.wav"));
    QVERIFY(WindowHarness::Messages().empty());
    h.ConvertAllAndWait();
    QVERIFY(fs::is_regular_file(outDir / "caf\xe9.wav"));
    QVERIFY(DecodeWithSndfile(outDir / "caf\xe9.wav").samples == DecodeWithSndfile(h.File("caf\xe9.wav")).samples);
}

void DesktopTest::handOverWithoutARuntimeFolderKeepsNamesThatAreNotUtf8() {
    WindowHarness h;
    MainDialog& w = h.Open();
    TempDir cache;
    const EnvScope env{{"XDG_RUNTIME_DIR", nullptr}, {"XDG_CACHE_HOME", cache.path().c_str()}};
    const InstanceSocket socket = InstanceSocketName();
    InstanceServer server;
    QVERIFY(server.Listen(socket.name));
    connect(&server, &InstanceServer::PathsReceived, &w, &MainDialog::OpenHandedPaths);
    // The user works in another window meanwhile.
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    WriteSineWav(h.File("caf\xe9.wav"), 8000, 1, 0.3);

    QProcess program;
    QSignalSpy ended(&program, &QProcess::finished);
    StartWithLatin1Name(program, h.File(""), cache.path().string());
    QVERIFY(ended.wait(30000));
    QCOMPARE(program.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(w.list()->RowCount(), 1, 30000);
    QTRY_VERIFY(!w.IsBusy());
    QCOMPARE(w.list()->Row(0)->item().sourcePath, h.File("caf\xe9.wav"));
    QVERIFY(WindowHarness::Messages().empty());
}

void DesktopTest::otherUsersAreNeitherHeardNorTold() {
    if (geteuid() != 0) QSKIP("needs root to act as another user");
    TempDir shared;
    chmod(shared.path().c_str(), 0777);  // a folder that lets others in: the peer check still holds

    // Another user's start that reaches the socket is dropped unheard.
    const std::string name = shared / "window";
    InstanceServer server;
    QVERIFY(server.Listen(QString::fromStdString(name)));
    QCOMPARE(chmod(name.c_str(), 0777), 0);
    QSignalSpy received(&server, &InstanceServer::PathsReceived);
    const sockaddr_un ours = SocketAddress(name);
    const int answered = AsNobody([&ours] {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&ours), sizeof ours) != 0) return 2;
        const char message[] = "PELLORAN-OPEN 1\n/tmp/x.wav\0";
        if (write(fd, message, sizeof message) != ssize_t(sizeof message)) return 3;
        char answer[4];
        return read(fd, answer, sizeof answer) > 0 ? 1 : 0;
    });
    QCOMPARE(answered, 0);
    QTest::qWait(100);
    QCOMPARE(received.count(), 0);

    // A socket another user listens at is told nothing.
    const std::string theirs = shared / "theirs";
    const sockaddr_un address = SocketAddress(theirs);
    int ready[2];
    int heard[2];
    QCOMPARE(pipe(ready), 0);
    QCOMPARE(pipe(heard), 0);
    const pid_t stranger = fork();
    if (stranger == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) _exit(2);
        chmod(address.sun_path, 0777);
        (void)!write(ready[1], "r", 1);
        const int client = accept(fd, nullptr, nullptr);
        pollfd wait{client, POLLIN, 0};
        char got[256];
        ssize_t total = 0;
        ssize_t n = 0;
        while (poll(&wait, 1, 3000) > 0 && (n = read(client, got, sizeof got)) > 0) total += n;
        (void)!write(heard[1], &total, sizeof total);
        _exit(0);
    }
    char r = 0;
    QCOMPARE(read(ready[0], &r, 1), ssize_t(1));
    QVERIFY(!HandToRunningInstance(QString::fromStdString(theirs), {"/home/ana/private.wav"}, 2000));
    ssize_t total = -1;
    QCOMPARE(read(heard[0], &total, sizeof total), ssize_t(sizeof total));
    QCOMPARE(total, ssize_t(0));
    waitpid(stranger, nullptr, 0);
    for (int fd : {ready[0], ready[1], heard[0], heard[1]}) close(fd);
}

void DesktopTest::resizesMaximisesAndRemembersItsSize() {
    WindowHarness h;
    QSize first;
    {
        MainDialog& w = h.Open();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The offscreen screen (800 x 600) may be narrower than the first size.
        const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
        first = w.FirstSize().boundedTo(room);
        QCOMPARE(w.FirstSize().height(), MainDialog::kHeight);
        QCOMPARE(w.minimumSize(), first);
        QCOMPARE(w.size(), first);
        // The format list shows its longest entry whole; the list starts right of the panel that holds it and
        // keeps the room it has beside the buttons' column alone: every column in sight, none cut to its title.
        QComboBox* format = w.formatSelector();
        QVERIFY(format->width() >= format->sizeHint().width());
        for (int i = 0; i < format->count(); ++i)
            QVERIFY(format->fontMetrics().horizontalAdvance(format->itemText(i)) < format->width() - 20);
        QCOMPARE(w.list()->geometry().top(), 63);
        QCOMPARE(w.list()->geometry().bottomRight(), QPoint(first.width() - 11, 527));
        QVERIFY(w.list()->x() > format->geometry().right() + 10);
        QVERIFY(w.list()->width() >= MainDialog::kWidth - 147 - (w.FirstSize().width() - first.width()));
        const auto columnsFill = [&w] {
            int sum = 0;
            for (int i = 0; i < SortListCtrl::kColumnCount; ++i) sum += w.list()->columnWidth(i);
            return sum == w.list()->viewport()->width();
        };
        QVERIFY(columnsFill());
        const QFontMetrics cell(w.list()->font());
        for (const auto& [column, longest] : {std::pair{SortListCtrl::kColBitRate, "1411 kbps"},
                                              {SortListCtrl::kColFreq, "48000 Hz"}, {SortListCtrl::kColStatus, "Converting 100%"}})
            QVERIFY2(w.list()->columnWidth(column) > cell.horizontalAdvance(longest), longest);

        // Dragging the bottom-right corner: the list grows, the caption buttons keep to the right edge.
        const QPoint corner(w.width() - 2, w.height() - 2);
        QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, corner);
        QMouseEvent move(QEvent::MouseMove, QPointF(corner + QPoint(101, 62)),
                         w.mapToGlobal(QPointF(corner + QPoint(101, 62))), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &move);
        QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, corner + QPoint(101, 62));
        const QSize grown = first + QSize(101, 62);
        QTRY_COMPARE(w.size(), grown);
        QCOMPARE(w.list()->geometry().bottomRight(), QPoint(grown.width() - 11, grown.height() - 11));
        QCOMPARE(w.button(MainDialog::kCmdClose)->geometry(), QRect(grown.width() - 30, 11, 21, 21));
        QCOMPARE(w.background().size(), grown);
        // The columns stretch with the window: File and Status share the room, the figures keep their widths.
        const int file = w.list()->columnWidth(SortListCtrl::kColFile);
        const int status = w.list()->columnWidth(SortListCtrl::kColStatus);
        const int duration = w.list()->columnWidth(SortListCtrl::kColDuration);
        w.resize(first.width() + 400, 600);
        QTRY_COMPARE(w.width(), first.width() + 400);
        QVERIFY(columnsFill());
        QVERIFY(w.list()->columnWidth(SortListCtrl::kColFile) > file + 150);
        QVERIFY(w.list()->columnWidth(SortListCtrl::kColStatus) > status + 100);
        QCOMPARE(w.list()->columnWidth(SortListCtrl::kColDuration), duration);
        // Never smaller than the first size.
        w.resize(300, 200);
        QTRY_COMPARE(w.size(), first);
        // Within the screen, which the offscreen one's width may leave no room for beyond the first size.
        const QSize kept = (first + QSize(61, 42)).boundedTo(room);
        w.resize(kept);

        CSkinButton* maximize = w.button(MainDialog::kCmdMaximize);
        const auto glyph = [maximize] { return maximize->SkinIcon().pixmap(QSize(16, 16), 2.0).toImage(); };
        const QImage plain = glyph();
        w.OnCommand(MainDialog::kCmdMaximize);
        QTRY_VERIFY(w.isMaximized());
        // Maximised, the button shows and names what it does now.
        QCOMPARE(maximize->toolTip(), QString("Restore"));
        QCOMPARE(glyph(), RestoreIcon().pixmap(QSize(16, 16), 2.0).toImage());
        QVERIFY(glyph() != plain);
        w.OnCommand(MainDialog::kCmdMaximize);
        QTRY_VERIFY(!w.isMaximized());
        QCOMPARE(maximize->toolTip(), QString("Maximize"));
        QCOMPARE(glyph(), plain);
        QTRY_COMPARE(w.size(), kept);
        h.Destroy();
    }
    MainDialog& again = h.Open();
    QCOMPARE(again.size(), (first + QSize(61, 42)).boundedTo(QGuiApplication::primaryScreen()->availableGeometry().size()));
}

// Also run on a 1280 x 800 screen at 200 % less its panels (window_small_screen): the window shrinks to the
// screen, with every control inside it and the command panel clear of the link.
void DesktopTest::fitsTheScreenItOpensOn() {
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    WindowHarness h;
    MainDialog& w = h.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize first = w.FirstSize();
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
    w.OnCommand(MainDialog::kCmdMirror);
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
    const auto drawnPart = [](const QImage& cell) {
        QRect drawn;
        for (int y = 0; y < cell.height(); ++y) {
            for (int x = 0; x < cell.width(); ++x) {
                if (qAlpha(cell.pixel(x, y)) > 0) drawn |= QRect(x, y, 1, 1);
            }
        }
        return drawn;
    };
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active}) {
        // The picture at scale 2 covers twice the part of its cell it covers at scale 1, not half of it.
        const QImage cell = image.pixmap(QSize(18, 17), 2.0, mode).toImage();
        QCOMPARE(cell.size(), QSize(36, 34));
        const QRect drawn = drawnPart(cell);
        const QRect single = drawnPart(image.pixmap(QSize(18, 17), 1.0, mode).toImage());
        QVERIFY2(drawn.width() >= 2 * single.width() - 2 && drawn.height() >= 2 * single.height() - 2,
                 qPrintable(QString("%1 x %2 at 2x, %3 x %4 at 1x")
                                .arg(drawn.width()).arg(drawn.height()).arg(single.width()).arg(single.height())));
    }

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

// Installed as the package installs it (its files copied, then the desktop database's trigger), the entry never
// makes Pelloran the default for a type: nothing writes mimeapps.list or defaults.list, and another handler the
// user or the system chose stays the default.
void DesktopTest::desktopEntryNeverBecomesTheDefault() {
    if (!HaveTool("xdg-mime") || !HaveTool("update-desktop-database"))
        QSKIP("xdg-utils or desktop-file-utils missing (scripts/install-deps installs them)");
    const struct {
        const char* name;
        const char* otherDefault;  // "user", "system" or "" (no other handler)
        bool trigger;              // update-desktop-database after the copy
        const char* expected;
    } cases[] = {
        // The only handler: xdg-mime then names any entry that lists the type, a default or not.
        {"the only handler", "", true, "org.pelloran.Pelloran.desktop"},
        {"the user chose another handler", "user", true, "other-player.desktop"},
        {"the system chose another handler", "system", true, "other-player.desktop"},
    };
    for (const auto& c : cases) {
        TempDir root;
        const std::string usr = root / "usr", apps = usr + "/share/applications";
        const std::vector<std::string> env = {
            "HOME=" + (root / "home"), "XDG_CONFIG_HOME=" + (root / "config"), "XDG_DATA_HOME=" + (root / "local"),
            "XDG_CONFIG_DIRS=" + (root / "etc"), "XDG_DATA_DIRS=" + usr + "/share", "XDG_CURRENT_DESKTOP=",
            "DESKTOP_SESSION=", "KDE_FULL_SESSION=", "GNOME_DESKTOP_SESSION_ID="};
        for (const char* d : {"home", "config", "local", "etc", "usr/share/applications"})
            fs::create_directories(root.path() / d);
        if (*c.otherDefault) {
            const std::string other = "[Desktop Entry]\nType=Application\nName=Other Player\nExec=true %F\n"
                                      "MimeType=audio/flac;audio/mpeg;\n";
            WriteBytes(apps + "/other-player.desktop", std::vector<uint8_t>(other.begin(), other.end()));
            if (std::string(c.otherDefault) == "user") {
                const CommandResult set = Run({"xdg-mime", "default", "other-player.desktop", "audio/flac"}, env);
                QVERIFY2(set.exitCode == 0, set.err.c_str());
            } else {
                const std::string list = "[Default Applications]\naudio/flac=other-player.desktop\n";
                WriteBytes(apps + "/defaults.list", std::vector<uint8_t>(list.begin(), list.end()));
            }
        }
        std::map<std::string, std::vector<uint8_t>> before;
        for (const auto& entry : fs::recursive_directory_iterator(root.path()))
            if (entry.is_regular_file()) before[entry.path().string()] = ReadBytes(entry.path().string());

        const CommandResult install =
            Run({"cmake", "--install", PELLORAN_BINARY_DIR, "--prefix", usr, "--component", "gui"});
        QVERIFY2(install.exitCode == 0, install.err.c_str());
        // No preference that would put it before another handler the user has not chosen.
        const std::vector<uint8_t> entry = ReadBytes(apps + "/org.pelloran.Pelloran.desktop");
        QVERIFY(!entry.empty() && std::string(entry.begin(), entry.end()).find("InitialPreference") == std::string::npos);
        if (c.trigger) QCOMPARE(Run({"update-desktop-database", apps}).exitCode, 0);

        // Every file that was there is as it was; no list of defaults appeared.
        for (const auto& [path, bytes] : before) QVERIFY2(ReadBytes(path) == bytes, (std::string(c.name) + ": " + path).c_str());
        for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
            const std::string name = entry.path().filename().string();
            if (before.count(entry.path().string()) == 0)
                QVERIFY2(name != "mimeapps.list" && name.find("defaults.list") == std::string::npos, c.name);
        }
        const CommandResult query = Run({"xdg-mime", "query", "default", "audio/flac"}, env);
        QCOMPARE(query.exitCode, 0);
        QVERIFY2(query.out == (*c.expected ? std::string(c.expected) + "\n" : std::string()),
                 (std::string(c.name) + ": " + query.out).c_str());
    }
}

// pelloran-cli's bash completion, driven as bash drives it: each name is one reply, spaces and all, however
// the word is typed.
void DesktopTest::bashCompletesNamesWithSpaces() {
    const std::string completion = std::string(PELLORAN_BINARY_DIR) + "/completions/pelloran-cli.bash";
    QVERIFY(fs::is_regular_file(completion));
    TempDir dir;
    fs::create_directories(dir.path() / "My Music");
    WriteBytes(dir / "Music with space.wav", {});
    WriteBytes(dir / "Other.wav", {});
    const char* script = R"(source "$1"; cd "$2"; shift 2
COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
_pelloran_cli
for reply in "${COMPREPLY[@]}"; do printf '%q\n' "$reply"; done)";
    const struct {
        std::vector<std::string> words;
        std::string replies;
    } cases[] = {
        {{"Mus"}, "Music\\ with\\ space.wav\n"},
        {{"Music\\ w"}, "Music\\ with\\ space.wav\n"},
        {{"\"Music w"}, "Music\\ with\\ space.wav\n"},
        {{"O"}, "Other.wav\n"},
        {{"-o", "My"}, "My\\ Music\n"},
        {{"--format", "fla"}, "flac\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"bash", "-c", script, "complete", completion, dir.path().string(), "pelloran-cli"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        const CommandResult got = Run(argv);
        QVERIFY2(got.exitCode == 0, got.err.c_str());
        QVERIFY2(got.out == c.replies, (c.words.back() + " gave " + got.out).c_str());
    }
}

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
