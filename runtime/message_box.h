// The modal message box: the program's one message to the user. Its
// failures are ignored, since the run that shows it is ending: the message
// goes to stderr first, whatever then becomes of the dialog.
//
// Implemented: per platform (platform/*/message_box.cpp).
#ifndef TOLMEX_RUNTIME_MESSAGE_BOX_H_
#define TOLMEX_RUNTIME_MESSAGE_BOX_H_

#include <string>

#include "runtime/text.h"

namespace runtime {

// Writes "title: text" to stderr. When a graphical session is present
// (DISPLAY or WAYLAND_DISPLAY set) also shows a dialog with an OK button
// through the first of zenity, kdialog or xmessage found on PATH, and
// returns once the user has closed it. Returns 1.
int message_box(const Text& title, const Text& text);

// What message_box() shows its dialog with: the path of the dialog tool
// (on Windows "MessageBoxW"); "" when there is no graphical session or no
// tool.
std::string dialog_tool();

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_MESSAGE_BOX_H_
