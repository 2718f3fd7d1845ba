// Pelloran: the window.

#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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
                return Finish(pelloran::ParseLaunchArguments({option}, {}));
        }
    }
    QApplication app(argc, argv);
    // Qt has taken its own options (-platform, -style, ...) out of argv; the rest are ours, kept as bytes
    // since file names need not be UTF-8.
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::error_code ignored;
    const pelloran::LaunchRequest request =
        pelloran::ParseLaunchArguments(args, std::filesystem::current_path(ignored).string());
    if (request.exitCode) return Finish(request);

    // One window per user: a second start hands its files over and ends. Without a safe place for the
    // socket, each start has a window of its own.
    const pelloran::InstanceSocket socket = pelloran::InstanceSocketName();
    pelloran::InstanceServer server;
    bool listening = false;
    if (socket.name.isEmpty()) {
        std::fprintf(stderr, "pelloran: %s; files of later starts open windows of their own\n",
                     socket.error.toLocal8Bit().constData());
    } else {
        if (pelloran::HandToRunningInstance(socket.name, request.paths)) return 0;
        listening = server.Listen(socket.name);
        if (!listening && pelloran::HandToRunningInstance(socket.name, request.paths)) return 0;
    }

    pelloran::ConverterApp converter(request.paths, listening ? &server : nullptr);
    converter.InitInstance();
    return converter.ExitInstance();
}
