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

// `name` below `directory`: `name` alone for an empty directory (the
// current one), `directory` + `name` when it ends with "\" or "/", else
// `directory` + "\" + `name`.
Text below(const Text& directory, std::u16string_view name);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PATH_H_
