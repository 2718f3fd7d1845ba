#pragma once
// Opening files, folders and addresses with the desktop's handlers. Programs are started with an
// argument vector, never through a shell.

#include <string>
#include <vector>

namespace pelloran {

// Shows the file selected in the file manager (D-Bus FileManager1), else opens its folder.
bool ShowInFileManager(const std::string& path);
// Opens a web or mail address (or a file) with xdg-open; true when the opener started.
bool OpenWebAddress(const std::string& address);
// Starts a program detached; true when it started.
bool StartDetached(const std::vector<std::string>& argv);

}  // namespace pelloran
