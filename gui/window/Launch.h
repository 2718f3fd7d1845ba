#pragma once
// The window's command line (pelloran [FILE|FOLDER]..., --help, --version) and the hand-over of files to
// a Pelloran already running for this user.

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtNetwork/QLocalServer>

#include <optional>
#include <string>
#include <vector>

namespace pelloran {

struct LaunchRequest {
    std::optional<int> exitCode;     // set: print the texts below and end with this code, no window
    QString out;                     // for standard output
    QString error;                   // for standard error
    std::vector<std::string> paths;  // absolute paths of the files and folders to add, as the system's bytes
};

// args without the program name, as the system gave them (names need not be UTF-8). Paths are made
// absolute against base; file: addresses become paths.
LaunchRequest ParseLaunchArguments(const std::vector<std::string>& args, const std::string& base);

// Where this user's running window listens: the runtime folder, else a folder of our own under the cache
// folder. name is empty when neither is safe to use; error then says why.
struct InstanceSocket {
    QString name;
    QString error;
};
InstanceSocket InstanceSocketName();

// Sends paths to the window listening at name and waits for it to take them; false when none listens, or
// when the one listening is another user's.
bool HandToRunningInstance(const QString& name, const std::vector<std::string>& paths, int timeoutMs = 5000);

// Listens for later starts and passes on the paths they send. Only this user's processes are heard; a
// message is bounded in size and count, and a sender that stalls is dropped.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxMessageBytes = 4 << 20;
    static constexpr int kMaxPaths = 100000;

    explicit InstanceServer(QObject* parent = nullptr);
    // False when another window already listens at name (a socket left by a dead one is replaced).
    bool Listen(const QString& name);

signals:
    void PathsReceived(const std::vector<std::string>& paths);

private:
    void Accept();
    QLocalServer server_;
};

}  // namespace pelloran
