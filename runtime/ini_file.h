// INI files as the Windows profile functions that hosts know read and write
// them: sections "[name]" of "key=value" lines, names matched without regard
// to ASCII case and to the blanks around them.
//
// set_profile_string() reports failure through its result and never throws.
// It replaces the file in one step and serializes writers of several
// processes, so a crash at any moment leaves the old file or the new one and
// no writer loses another's key.
#ifndef TOLMEX_RUNTIME_INI_FILE_H_
#define TOLMEX_RUNTIME_INI_FILE_H_

#include <optional>
#include <string>
#include <string_view>

#include "runtime/text.h"

namespace runtime {

// The content `ini` with `key` of `section` set to `value`, all in one 8-bit
// code set. An existing key keeps its line, its position and its spelling up
// to "=" and gets the new value (the first one where a key stands twice); a
// new key goes after the last key of its section, or right after the header;
// a missing section is added at the end. Every other byte stays, and new
// lines end as the file's first line does (CR LF when it has none). Nullopt
// when the write is refused: a name or value holding CR, LF or NUL, an empty
// name, a section name with "]", a key with "=" or starting with "[", ";" or
// "#" (each would change other lines or not read back).
std::optional<std::string> set_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key,
                                       std::string_view value);

// The value of `key` in `section` of `ini` with the blanks around it cut, or
// nullopt when the key is not there.
std::optional<std::string> get_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key);

// Sets `key` of `section` in the INI file `path` to `value`. The texts go out
// in the current code set. A missing file is created (a missing directory is
// not); a file reached through a symbolic link is replaced at its target. A
// null argument is refused. 1 on success, 0 on failure or refusal.
int set_profile_string(const Text& path, const Text& section, const Text& key,
                       const Text& value);

// The value of `key` in `section` of the file `path`; null when the file or
// the key is missing.
Text get_profile_string(const Text& path, const Text& section, const Text& key);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_INI_FILE_H_
