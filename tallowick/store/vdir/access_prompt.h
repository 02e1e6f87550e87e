#pragma once
// Asking the person whether vantrel may use their calendars: a desktop dialog
// in a graphical session (zenity, which every GNOME has; kdialog, which every
// KDE Plasma has; else xmessage from x11-utils, which every X or XWayland
// desktop of Debian has), else a question on the controlling terminal, else
// nobody can be asked. Nothing goes to stdout, which belongs to the JSON
// answer; the dialogs' own output goes to /dev/null.
//
// A dialog's "No" and a dialog closed without an answer (Escape, the window's
// close button) are both a refusal: zenity and kdialog report the two alike,
// and a question left open would come back on every run of the host.

#include "tallowick/store/vdir/layer.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {

enum class PromptAnswer { granted, refused, unanswered };

// Abstract as a function so tests can answer without a person.
using AccessPrompter = std::function<PromptAnswer(EntityType)>;

// Where a question can go, as read from the process's environment by
// current(); tests build their own.
struct PromptEnvironment {
  std::string path;               // searched for the dialog programs, as PATH
  bool graphicalSession = false;  // DISPLAY or WAYLAND_DISPLAY is set and not empty
  std::string terminal;           // the controlling terminal's device; empty: none
  // A dialog that exits with a "no" sooner than this could not open its
  // window (zenity exits with 1 then too); nobody answers that fast.
  std::chrono::milliseconds quickFailure{300};

  static PromptEnvironment current();
};

// A dialog program of the chain and the Debian package that has it, in the
// order they are tried.
struct DialogProgram {
  std::string name;
  std::string package;
};
const std::vector<DialogProgram>& dialogPrograms();

// Asks the person. Each dialog found on `path` is tried in turn until one
// gives an answer; a dialog that cannot run, is killed, or fails quickly
// passes the question on. Without an answer from any dialog, the terminal is
// asked. unanswered when nobody could be asked. Blocks until answered.
PromptAnswer askPersonIn(const PromptEnvironment& environment, EntityType type);
PromptAnswer askPerson(EntityType type);  // in PromptEnvironment::current()

// Which way a question would go now, for a report to the person; nothing is
// shown and nothing is asked.
struct PromptRoute {
  bool graphicalSession = false;
  std::string dialog;      // the first dialog program found ("zenity"); empty: none, or no graphical session
  std::string dialogPath;  // where it was found
  bool terminal = false;   // the controlling terminal can be opened
};
PromptRoute promptRoute(const PromptEnvironment& environment);

}  // namespace tallowick::ical
