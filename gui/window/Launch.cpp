#include "gui/window/Launch.h"

#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtNetwork/QLocalSocket>

#include <unistd.h>

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

QString AbsolutePath(const QString& arg, const QString& base) {
    QString path = arg;
    if (arg.startsWith(QLatin1String("file:"))) path = QUrl(arg).toLocalFile();
    if (path.isEmpty()) return {};
    return QDir::cleanPath(QDir(base).absoluteFilePath(path));
}

}  // namespace

LaunchRequest ParseLaunchArguments(const QStringList& args, const QString& base) {
    LaunchRequest request;
    bool options = true;
    for (const QString& arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && (arg == QLatin1String("-h") || arg == QLatin1String("--help"))) {
            return {0, QString::fromUtf8(kUsage), {}, {}};
        } else if (options && (arg == QLatin1String("-v") || arg == QLatin1String("--version"))) {
            return {0, QStringLiteral("pelloran %1\n").arg(QString::fromUtf8(PELLORAN_VERSION)), {}, {}};
        } else if (options && arg.startsWith(u'-') && arg.size() > 1) {
            return {2, {}, QStringLiteral("pelloran: unknown option '%1'\n").arg(arg) + QString::fromUtf8(kUsage), {}};
        } else if (const QString path = AbsolutePath(arg, base); !path.isEmpty()) {
            request.paths << path;
        }
    }
    return request;
}

QString InstanceSocketName() {
    // One per user and desktop session: the runtime folder is the user's own; without one, the user id.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) return runtime + QStringLiteral("/pelloran-window");
    return QStringLiteral("pelloran-window-%1").arg(getuid());
}

bool HandToRunningInstance(const QString& name, const QStringList& paths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray message(kHeader);
    for (const QString& path : paths) message += path.toUtf8() + '\0';
    message += '\0';  // an empty path ends the list
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
        if (probe.waitForConnected(1000)) return false;
    }
    if (server_.listen(name)) return true;
    if (server_.serverError() != QAbstractSocket::AddressInUseError) return false;
    QLocalServer::removeServer(name);
    return server_.listen(name);
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
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
            QStringList paths;
            for (const QByteArray& path : body.left(body.size() - 1).split('\0')) {
                if (path.isEmpty()) continue;
                if (paths.size() >= kMaxPaths) {
                    socket->abort();
                    return;
                }
                paths << QString::fromUtf8(path);
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
