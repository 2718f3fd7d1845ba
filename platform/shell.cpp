#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;

namespace pelloran {

namespace {

// Starts argv with stdio on /dev/null and waits for it; its exit code, or -1 when it could not start.
int RunAndWait(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FileUri(const std::string& path) {
    static const char* kHex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : std::filesystem::absolute(path).string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

}  // namespace

bool StartDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    // Double fork through a short-lived child so the opener is not left as a zombie.
    std::vector<std::string> wrapped = {"setsid", "-f"};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return RunAndWait(wrapped) == 0;
}

bool OpenWebAddress(const std::string& address) { return StartDetached({"xdg-open", address}); }

bool ShowInFileManager(const std::string& path) {
    const std::string uri = FileUri(path);
    const int rc = RunAndWait({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.FileManager1",
                               "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItems",
                               "array:string:" + uri, "string:"});
    if (rc == 0) return true;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return OpenWebAddress(folder.empty() ? "." : folder);
}

}  // namespace pelloran
