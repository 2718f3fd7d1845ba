#pragma once
// The window's command line (pelloran [FILE|FOLDER]..., --help, --version) and the hand-over of files to
// a Pelloran already running for this user.

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtNetwork/QLocalServer>

#include <optional>

namespace pelloran {

struct LaunchRequest {
    std::optional<int> exitCode;  // set: print the texts below and end with this code, no window
    QString out;                  // for standard output
    QString error;                // for standard error
    QStringList paths;            // absolute paths of the files and folders to add
};

// args without the program name. Paths are made absolute against base; file: addresses become paths.
LaunchRequest ParseLaunchArguments(const QStringList& args, const QString& base);

// The local socket of this user's running window.
QString InstanceSocketName();

// Sends paths to the window listening at name and waits for it to take them; false when none listens.
bool HandToRunningInstance(const QString& name, const QStringList& paths, int timeoutMs = 5000);

// Listens for later starts and passes on the paths they send. A message is bounded in size and count, and
// a sender that stalls is dropped.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxMessageBytes = 4 << 20;
    static constexpr int kMaxPaths = 100000;

    explicit InstanceServer(QObject* parent = nullptr);
    // False when another window already listens at name (a socket left by a dead one is replaced).
    bool Listen(const QString& name);

signals:
    void PathsReceived(const QStringList& paths);

private:
    void Accept();
    QLocalServer server_;
};

}  // namespace pelloran
