#pragma once
// Asking the person whether vantrel may use their calendars: a desktop dialog
// (zenity, else kdialog) in a graphical session, else a question on the
// controlling terminal, else nobody can be asked. Nothing goes to stdout,
// which belongs to the JSON answer.

#include "tallowick/store/vdir/layer.h"

#include <functional>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {

enum class PromptAnswer { granted, refused, unanswered };

// Abstract as a function so tests can answer without a person.
using AccessPrompter = std::function<PromptAnswer(EntityType)>;

PromptAnswer askPerson(EntityType type);

}  // namespace tallowick::ical
