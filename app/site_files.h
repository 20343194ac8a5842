// The files of a request in the public directory P: their names, and the
// rule that places the log directory. The request and the site check take
// them from here. Nothing here fails.
//
// Implemented: portable (this header).
#ifndef TOLMEX_APP_SITE_FILES_H_
#define TOLMEX_APP_SITE_FILES_H_

#include "runtime/command_line.h"
#include "runtime/path.h"
#include "runtime/text.h"

namespace site_files {

// The result INI file, which the request resets and the client answers in.
inline constexpr char16_t kResultFile[] = u"tolmex.ini";
// The payment client as it is installed, and the copy of it that runs.
inline constexpr char16_t kClient[] = u"mart.dll";
inline constexpr const char16_t* kClientCopy = runtime::kClientProgram;

// The name below the site of the log directory "logpay" of the public
// directory `public_path`, with one separator between them however P is
// spelled: "logpay" after a final separator, "\logpay" where P has none
// (a doubled one is a name the platform refuses under "\\?\"). With no
// public directory (field 2 empty) every other name of the request lies in
// the current directory, and so does the log: "\logpay" alone would be
// the root of the file system.
inline runtime::Text log_directory(const runtime::Text& public_path) {
  return runtime::Text(runtime::separator_after(public_path)) + u"logpay";
}

}  // namespace site_files

#endif  // TOLMEX_APP_SITE_FILES_H_
