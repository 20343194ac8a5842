// Names below a directory as the request's paths spell them: a directory as
// the host wrote it (field 2 ends with a separator, or not; "\" or "/";
// "\\?\" in front, where the platform takes the name as it is) joined to a
// name with exactly one separator. Never fails.
//
// Implemented: portable (runtime/path.cpp).
#ifndef TOLMEX_RUNTIME_PATH_H_
#define TOLMEX_RUNTIME_PATH_H_

#include <string_view>

#include "runtime/text.h"

namespace runtime {

// What goes between `directory` and a name below it: nothing for an empty
// directory (the current one) or one that ends with "\" or "/", else "\".
std::u16string_view separator_after(const Text& directory);

// `name` below `directory`: `directory` + separator_after() + `name`.
Text below(const Text& directory, std::u16string_view name);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PATH_H_
