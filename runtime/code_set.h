// The 8-bit code set in which text enters and leaves the program (the
// command line, the log, paths, the client's command line): the locale's on
// POSIX systems, the ANSI code page on Windows; and the conversion between
// it and the program's UTF-16 text.
//
// Decoding never fails and never loses a byte: a byte that does not start a
// valid character is carried as the lone surrogate U+DC00 + byte (U+DC80 to
// U+DCFF), and encoding turns such a surrogate back into that very byte. Any
// other character the code set cannot hold is encoded as "?". A code set that
// cannot be converted raises the runtime error.
//
// Implemented: per platform (platform/posix/code_set.cpp,
// platform/win32/code_page.cpp).
#ifndef TOLMEX_RUNTIME_CODE_SET_H_
#define TOLMEX_RUNTIME_CODE_SET_H_

#include <string>
#include <string_view>

#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// Takes the code set of the process (on POSIX systems from the locale
// environment: LC_ALL, LC_CTYPE, LANG) and makes it the current one. A
// locale that is not installed leaves UTF-8 in use, and the result is a
// failure that names it (a warning: the run can go on).
Status init_locale();

// Text from the current code set, and back.
Text from_ansi(std::string_view bytes);
std::string to_ansi(const Text& text);

// True when `byte` starts a character of two bytes in the current code set
// (a lead byte of a double-byte code page such as GBK). The platform's
// conversion takes such a byte and the byte after it, whatever that is, as
// one character, so a lead byte before "]", "=" or a line end hides it.
// Never true in UTF-8, where a broken sequence swallows no ASCII byte.
bool is_lead_byte(unsigned char byte);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_CODE_SET_H_
