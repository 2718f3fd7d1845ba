#pragma once
// What the options sheet asks of the desktop: message boxes, the folder picker, opening folders and
// addresses, running modal dialogs and the WMA format list. The window uses the desktop versions;
// tests put their own in to answer for the user.

#include <QMessageBox>
#include <QString>

#include <functional>
#include <vector>

class QDialog;
class QWidget;

namespace pelloran {

// One usable WMA format as the WMA page offers it.
struct WmaFormatChoice {
    int sampleRate = 0;  // Hz
    int bitRate = 0;     // bits per second
    int channels = 0;
};

struct OptionsHooks {
    // A message box titled "Pelloran".
    std::function<void(QWidget* parent, const QString& text, QMessageBox::Icon icon)> message;
    // The folder picker; an empty result means cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& start)> chooseFolder;
    // Opens a folder in the file manager, or a web address in the browser.
    std::function<void(const QString& target)> open;
    // Runs a dialog modally; true when it was accepted.
    std::function<bool(QDialog& dialog)> runModal;
    // The formats of the WMA layer in list order (loads the layer first; may ask about it).
    std::function<std::vector<WmaFormatChoice>(QWidget* parent)> wmaFormats;

    // The real desktop: QMessageBox, QFileDialog, xdg-open, exec() and the WMA layer.
    static OptionsHooks Desktop();
};

// Title of every message box of the sheet.
inline constexpr const char* kMessageTitle = "Pelloran";

}  // namespace pelloran
