#pragma once
// Which store a run uses, the vdir folders or evolution-data-server (EDS),
// decided so that nobody's setup changes and a GNOME desktop needs nothing
// set up:
//  1. the settings' "backend" ("vdir" or "eds") decides when present;
//  2. else a "store" member (a vdir folder) means the vdir store;
//  3. else an existing vdir root (~/.local/share/calendars) keeps being used;
//  4. else EDS, when there is a session bus and EDS answers on it;
//  5. else the vdir store, empty.
// Only the environment and the file system are looked at for 1 to 3 and for
// whether there is a bus, so a run without one decides at once.

#include <optional>
#include <string>

#include "tallowick/store/vdir/settings.h"

namespace tallowick::eds {

enum class StoreChoice { vdir, eds, edsIfItAnswers };

// Rules 1 to 5 above, from the settings as the vdir layer reads them (a
// missing, unreadable or malformed file says nothing). Throws StoreError for a
// "backend" that is neither "vdir" nor "eds", naming the settings file.
StoreChoice chooseStore(const ical::Settings& settings, const std::string& settingsFile, bool vdirRootExists,
                        bool sessionBus);

// Whether there is a session bus to try, from the environment alone and
// without connecting: each address of DBUS_SESSION_BUS_ADDRESS (`address`)
// that names a socket file needs that file; any other kind of address counts.
// Without an address, $XDG_RUNTIME_DIR/bus (`runtimeDir`) must be a socket,
// as GLib would use it.
bool sessionBusPresent(const char* address, const char* runtimeDir);

}  // namespace tallowick::eds
