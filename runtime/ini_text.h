// The text of INI files as the Windows profile functions read and write it,
// as pure functions on a file's content. None of them touches a file or
// fails; a write that would not read back is refused through the result.
//
// The dialect: CR, LF and CR LF each end a line. A line whose first
// non-blank character is "[" and that holds a "]" is a section header; the
// name lies between the "[" and the last "]", blanks around it cut, and text
// after that "]" is ignored. A "[" line without "]" is an ordinary line. A
// line whose first non-blank character is ";" is a comment; every other
// non-blank line is a key line, "key=value" or a key alone, which has no
// value: a lookup gives the default for it and it hides later lines of the
// same key. A name or value ends at its first NUL, after the blanks around
// it are cut; a value in a pair of quotes ("..." or '...') reads without
// them. Names match without regard to ASCII case and to the blanks around
// the name looked up, and only the first section of a name counts. A file
// starting with a UTF-16LE, UTF-16BE or UTF-8 byte-order mark is text in
// that encoding; any other file is in the current code set, whose lead
// bytes each take the byte after them, whatever it is, into their
// character.
//
// Implemented: portable (runtime/ini_text.cpp).
#ifndef TOLMEX_RUNTIME_INI_TEXT_H_
#define TOLMEX_RUNTIME_INI_TEXT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

namespace runtime {

// The content `ini` with `key` of `section` set to `value`, all in one
// character type (the 8-bit forms take each byte for a character). An existing
// key line keeps its place and its spelling up to "=" and gets the new value (a
// key alone gets "=" and the value); a new key goes after the last key line of
// its section, or right after the header; a missing section is added at the
// end. Every other character stays, and new lines end as the file's first line
// does (CR LF when it has none). Nullopt when the write is refused: a name or
// value holding CR, LF or NUL, an empty name, a section name with "]", a key
// with "=" or starting with "[", ";" or "#" (each would change other lines or
// not read back).
std::optional<std::string> set_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key,
                                       std::string_view value);
std::optional<std::u16string> set_ini_key(std::u16string_view ini,
                                          std::u16string_view section,
                                          std::u16string_view key,
                                          std::u16string_view value);

// The value of `key` in `section` of `ini` as read (see above); nullopt
// when the lookup gives the default (no such key, or a key alone).
std::optional<std::string> get_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key);
std::optional<std::u16string> get_ini_key(std::u16string_view ini,
                                          std::u16string_view section,
                                          std::u16string_view key);

// True when two section or key names name the same thing.
bool same_ini_name(std::u16string_view a, std::u16string_view b);

// One key write.
struct IniEdit {
  Text section, key, value;
};

// The bytes of an INI file with `edits` applied in order, in the file's own
// encoding (see above). Nullopt when an edit is refused or holds a null, or
// when a written key would not read back as its value reads from a file of
// that key alone (written again by a later edit, or a lead byte would take
// in a byte written after it: a name or value ending in one, a line added
// after a file that does), or when a UTF-16 file has an odd number of bytes
// (the platform's reader makes a last character of the odd byte and
// whatever follows it in memory); then no edit is applied.
std::optional<std::string> edit_ini_file(std::string_view bytes,
                                         const std::vector<IniEdit>& edits);

// True when `bytes` is UTF-16 text (by its byte-order mark) with an odd
// number of bytes: the platform's reader makes a last character of the odd
// byte and whatever follows the file in its memory, so what it reads
// cannot be told.
bool is_torn_utf16(std::string_view bytes);

// The value of `key` in `section` of the INI file `bytes`; null when the
// lookup gives the default.
Text read_ini_file(std::string_view bytes, const Text& section,
                   const Text& key);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_INI_TEXT_H_
