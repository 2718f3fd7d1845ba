#pragma once
// Entry point of the options sheet for the main window.

class QWidget;

namespace pelloran {

struct ConvertSettings;
class RegistryStore;
struct OptionsHooks;

// Runs the sheet modally on a working copy of the settings. On OK the pages are copied back, the
// extension filter is rebuilt and the options group is saved and committed. Either way the page that
// was active becomes OptStartPageIndex. True when the sheet ended with OK.
bool ShowOptionsSheet(QWidget* parent, ConvertSettings& settings, RegistryStore& store);
// The same with the desktop services given by the caller.
bool ShowOptionsSheet(QWidget* parent, ConvertSettings& settings, RegistryStore& store, OptionsHooks& hooks);

}  // namespace pelloran
