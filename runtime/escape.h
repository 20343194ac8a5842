// Text that other users can shape (paths, reasons, a locale's name) made
// safe for a line of output: nothing in it can start a new line, move the
// cursor or reverse the direction of what follows. Never fails.
//
// Implemented: portable (runtime/escape.cpp).
#ifndef TOLMEX_RUNTIME_ESCAPE_H_
#define TOLMEX_RUNTIME_ESCAPE_H_

#include <string>
#include <string_view>

#include "runtime/text.h"

namespace runtime {

// `bytes`, text in the current code set (runtime/code_set.h), with every
// C0 control and DEL, every byte of `extra`, and every byte 0x80 to 0x9F
// that is part of no character written as "\xHH", and every C1 control
// (U+0080 to U+009F), line or paragraph separator (U+2028, U+2029) and
// directional formatting character (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069) written as "\u{HHHH}".
std::string escape_controls(std::string_view bytes,
                            std::string_view extra = "");

// `text` with the same characters escaped, for output that takes UTF-16
// (the event log of Windows): every other character stays as it is, one
// that no code page holds too. Bytes of no character (U+DC80 to U+DCFF,
// as runtime/code_set.h decodes them) count as above.
Text escape_controls(const Text& text, std::string_view extra = "");

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_ESCAPE_H_
