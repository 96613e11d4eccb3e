#pragma once

#include <span>

namespace phonaxis {

// Who decides whether a command is enabled.
enum class CommandOwner {
    Application, // always enabled (titles may change)
    Document,    // the document's save rules
    View,        // the main view's rules
    Window,      // the main window controller's rules
    Log,         // the measurement log's rules (its window shown or not)
};

// One menu command of the document window: its name (the QAction's
// objectName; its title and shortcut come from the shared command table,
// findMenuCommand) and who enables it. A name of nullptr is a separator.
struct CommandSpec {
    const char* name;
    CommandOwner owner;
};

// One menu of the document window, with its commands in order. The title
// marks its mnemonic with '&'.
struct MenuSpec {
    const char* title;
    std::span<const CommandSpec> commands;
};

// The document window's menus: File, Edit, Zoom, Channels, Label,
// Analysis, Options, Log, Window and Help. "Open Recent" is a submenu the window adds after "Open…".
std::span<const MenuSpec> documentWindowMenus();

// Enabling rule of the main window's own commands: the spectrogram and pitch windows, the
// label table and the display, zoom and intensity/smoothing panels need data; the calibration panel
// and the configuration commands are always enabled; the EGG panel needs data and an EGG channel
// assigned. The spectrum at the marker needs data and a marker, the
// spectrum and the spectrogram of the selection data and a selection. Importing labels
// needs data, exporting them data and a label on some channel.
bool windowCommandEnabled(const char* name, bool documentHasData, bool eggAssigned = false,
                          bool haveMarker = false, bool haveSelection = false,
                          bool haveLabels = false);

} // namespace phonaxis
