#pragma once
// The application object: prepares the process and runs the main window.

#include <memory>
#include <string>
#include <vector>

namespace pelloran {

class InstanceServer;
class MainDialog;

class ConverterApp {
public:
    // paths: added to the list at start. server: brings the files of later starts (may be null).
    explicit ConverterApp(std::vector<std::string> paths = {}, InstanceServer* server = nullptr);
    ~ConverterApp();

    // Runs the whole life of the main window; false in every case, as nothing follows it.
    bool InitInstance();
    // The process's exit code.
    int ExitInstance();

private:
    std::vector<std::string> paths_;
    InstanceServer* server_;
    std::unique_ptr<MainDialog> dialog_;
};

}  // namespace pelloran
