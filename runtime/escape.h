// Text that other users can shape (paths, reasons) made safe for a line of
// output: nothing in it can start a new line, move the cursor or reverse
// the direction of what follows. Never fails.
//
// Implemented: portable (runtime/escape.cpp).
#ifndef TOLMEX_RUNTIME_ESCAPE_H_
#define TOLMEX_RUNTIME_ESCAPE_H_

#include <string>
#include <string_view>

namespace runtime {

// `bytes` with every control byte (C0 and DEL), every byte of `extra`, and
// every byte of a UTF-8 directional formatting character (U+061C, U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069) written as "\xHH".
std::string escape_controls(std::string_view bytes,
                            std::string_view extra = "");

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_ESCAPE_H_
