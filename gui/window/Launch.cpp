#include "gui/window/Launch.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtNetwork/QLocalSocket>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace pelloran {

namespace {

// A message: the header line, then each path ended by a NUL byte. The window answers "OK\n".
constexpr char kHeader[] = "PELLORAN-OPEN 1\n";
constexpr char kAnswer[] = "OK\n";
constexpr int kStallMs = 5000;

const char* const kUsage =
    "Usage: pelloran [FILE|FOLDER]...\n"
    "Converts audio files to MP3, WAV, OGG, AAC, M4A, AMR and WMA.\n"
    "\n"
    "The files and folders named are added to the list (a folder adds every file below it). When Pelloran\n"
    "already runs, they go to the running window.\n"
    "\n"
    "  -h, --help     show this text and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "pelloran-cli converts from the command line: pelloran-cli --help\n";

// The path of a file: address as bytes (percent escapes may stand for bytes that are not UTF-8).
std::string LocalFileBytes(const std::string& address) {
    const QUrl url(QString::fromUtf8(address));
    if (!url.isValid() || !url.isLocalFile()) return {};
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost")) return {};
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// Byte for byte: "a/./b/../c/" against base gives base/a/c.
std::string AbsolutePath(const std::string& arg, const std::string& base) {
    const std::string path = arg.starts_with("file:") ? LocalFileBytes(arg) : arg;
    if (path.empty() || path.find('\0') != std::string::npos) return {};
    const std::filesystem::path full =
        path.front() == '/' ? std::filesystem::path(path) : std::filesystem::path(base) / path;
    std::string clean = full.lexically_normal().string();
    while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
    return clean;
}

// Owns a file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Why folder cannot hold the socket, empty when it can: it must be a real folder (not a link), ours, and
// closed to everyone else.
QString FolderProblem(const std::string& folder) {
    const Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0) {
        if (errno == ELOOP || errno == ENOTDIR) return QStringLiteral("is a link or not a folder");
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    struct stat info {};
    if (fstat(dir.get(), &info) != 0) return QString::fromLocal8Bit(std::strerror(errno));
    if (info.st_uid != geteuid()) return QStringLiteral("belongs to another user");
    if ((info.st_mode & 07777) != 0700)
        return QStringLiteral("has mode %1, not 0700").arg(unsigned(info.st_mode & 07777), 4, 8, QLatin1Char('0'));
    return {};
}

InstanceSocket SocketIn(const std::string& folder) {
    const std::string path = folder + "/pelloran-window";
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    // With room to spare: Qt may bind a slightly longer temporary name first.
    if (QFile::encodeName(name).toStdString() != path || path.size() + 12 >= sizeof(sockaddr_un::sun_path))
        return {{}, QStringLiteral("%1 cannot name a local socket").arg(name)};
    return {name, {}};
}

// Whether the process at the other end of a connected local socket runs as this user.
bool PeerIsThisUser(qintptr fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return fd >= 0 && getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == geteuid();
}

}  // namespace

LaunchRequest ParseLaunchArguments(const std::vector<std::string>& args, const std::string& base) {
    LaunchRequest request;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-h" || arg == "--help")) {
            return {0, QString::fromUtf8(kUsage), {}, {}};
        } else if (options && (arg == "-v" || arg == "--version")) {
            return {0, QStringLiteral("pelloran %1\n").arg(QString::fromUtf8(PELLORAN_VERSION)), {}, {}};
        } else if (options && arg.starts_with('-') && arg.size() > 1) {
            const QString said = QStringLiteral("pelloran: unknown option '%1'\n").arg(QString::fromLocal8Bit(arg));
            return {2, {}, said + QString::fromUtf8(kUsage), {}};
        } else if (std::string path = AbsolutePath(arg, base); !path.empty()) {
            request.paths.push_back(std::move(path));
        }
    }
    return request;
}

InstanceSocket InstanceSocketName() {
    // Never a name others can guess in a folder they can write: the runtime folder when it is truly ours,
    // else a folder of our own in the cache folder.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && FolderProblem(runtime).isEmpty()) return SocketIn(runtime);
    std::string cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') cache = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/') cache = std::string(home) + "/.cache";
    else return {{}, QStringLiteral("no runtime, cache or home folder is set")};
    std::error_code ignored;
    std::filesystem::create_directories(cache, ignored);
    const std::string folder = cache + "/pelloran";
    const QString shown = QFile::decodeName(QByteArray::fromStdString(folder));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {{}, QStringLiteral("cannot create %1: %2").arg(shown, QString::fromLocal8Bit(std::strerror(errno)))};
    if (const QString problem = FolderProblem(folder); !problem.isEmpty())
        return {{}, QStringLiteral("%1 %2; refusing to use it").arg(shown, problem)};
    return SocketIn(folder);
}

bool HandToRunningInstance(const QString& name, const std::vector<std::string>& paths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    if (!PeerIsThisUser(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    QByteArray message(kHeader);
    for (const std::string& path : paths) {
        if (path.empty() || path.find('\0') != std::string::npos) continue;
        message.append(path.data(), qsizetype(path.size()));
        message.append('\0');
    }
    message.append('\0');  // an empty path ends the list
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    QByteArray answer;
    while (answer.size() < int(sizeof kAnswer) - 1 && socket.waitForReadyRead(timeoutMs)) answer += socket.readAll();
    return answer.startsWith(kAnswer);
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

bool InstanceServer::Listen(const QString& name) {
    // A window that answers is running; a socket nobody answers was left by one that died.
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(1000) && PeerIsThisUser(probe.socketDescriptor())) return false;
    }
    if (server_.listen(name)) return true;
    if (server_.serverError() != QAbstractSocket::AddressInUseError) return false;
    QLocalServer::removeServer(name);
    return server_.listen(name);
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        if (!PeerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto buffer = std::make_shared<QByteArray>();
        auto* stall = new QTimer(socket);
        stall->setSingleShot(true);
        connect(stall, &QTimer::timeout, socket, &QLocalSocket::abort);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            if (buffer->size() + socket->bytesAvailable() > kMaxMessageBytes) {
                socket->abort();
                return;
            }
            *buffer += socket->readAll();
            const qsizetype header = qsizetype(sizeof kHeader) - 1;
            if (buffer->size() >= header && !buffer->startsWith(kHeader)) {
                socket->abort();
                return;
            }
            // Complete when the list's end, an empty path, has arrived: the body ends with two NULs (one
            // alone for no paths). Paths are never empty, so that happens nowhere else.
            const QByteArray body = buffer->mid(header);
            const QByteArray end("\0\0", 2);
            if (buffer->size() < header || !(body == QByteArray(1, '\0') || body.endsWith(end))) return;
            std::vector<std::string> paths;
            for (const QByteArray& path : body.left(body.size() - 1).split('\0')) {
                if (path.isEmpty()) continue;
                if (paths.size() >= size_t(kMaxPaths)) {
                    socket->abort();
                    return;
                }
                paths.push_back(path.toStdString());  // the bytes as sent: names need not be UTF-8
            }
            buffer->clear();
            socket->write(kAnswer);
            socket->flush();
            socket->disconnectFromServer();
            emit PathsReceived(paths);
        });
        stall->start(kStallMs);
    }
}

}  // namespace pelloran
