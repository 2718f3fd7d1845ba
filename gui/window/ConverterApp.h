#pragma once
// The application object: prepares the process, runs the main window, and frees the audio library after it.

#include <memory>

namespace pelloran {

class MainDialog;

class ConverterApp {
public:
    ConverterApp();
    ~ConverterApp();

    // Runs the whole life of the main window; false in every case, as nothing follows it.
    bool InitInstance();
    // Frees the audio library; the process's exit code.
    int ExitInstance();

private:
    std::unique_ptr<MainDialog> dialog_;
};

}  // namespace pelloran
