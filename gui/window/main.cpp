// Pelloran: the window.

#include <QtCore/QDir>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstring>

#include "gui/window/ConverterApp.h"
#include "gui/window/Launch.h"

namespace {

// Prints what the request says and gives its exit code.
int Finish(const pelloran::LaunchRequest& request) {
    std::fputs(request.out.toLocal8Bit().constData(), stdout);
    std::fputs(request.error.toLocal8Bit().constData(), stderr);
    return *request.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version need no display: they are answered before Qt starts.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        for (const char* option : {"-h", "--help", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return Finish(pelloran::ParseLaunchArguments({QString::fromLocal8Bit(option)}, {}));
        }
    }
    QApplication app(argc, argv);
    // Qt has taken its own options (-platform, -style, ...); the rest are ours.
    QStringList args = QApplication::arguments();
    args.removeFirst();
    const pelloran::LaunchRequest request = pelloran::ParseLaunchArguments(args, QDir::currentPath());
    if (request.exitCode) return Finish(request);

    // One window per user: a second start hands its files over and ends.
    const QString socket = pelloran::InstanceSocketName();
    if (pelloran::HandToRunningInstance(socket, request.paths)) return 0;
    pelloran::InstanceServer server;
    if (!server.Listen(socket) && pelloran::HandToRunningInstance(socket, request.paths)) return 0;

    pelloran::ConverterApp converter(request.paths, &server);
    converter.InitInstance();
    return converter.ExitInstance();
}
