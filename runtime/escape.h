// Text that other users can shape (paths, reasons, a locale's name) made
// safe for a line of output: nothing in it can start a new line, move the
// cursor or reverse the direction of what follows. Never fails.
//
// Implemented: portable (runtime/escape.cpp).
#ifndef TOLMEX_RUNTIME_ESCAPE_H_
#define TOLMEX_RUNTIME_ESCAPE_H_

#include <string>
#include <string_view>

namespace runtime {

// `bytes`, text in the current code set (runtime/code_set.h), with every
// C0 control and DEL, every byte of `extra`, and every byte 0x80 to 0x9F
// that is part of no character written as "\xHH", and every C1 control
// (U+0080 to U+009F), line or paragraph separator (U+2028, U+2029) and
// directional formatting character (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069) written as "\u{HHHH}".
std::string escape_controls(std::string_view bytes,
                            std::string_view extra = "");

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_ESCAPE_H_
