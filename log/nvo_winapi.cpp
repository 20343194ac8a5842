#include "log/nvo_winapi.h"

#include "runtime/files.h"

int nvo_winapi::of_create_file(runtime::Text as_file) {
  if (runtime::file_exists(site_, as_file)) return 1;
  // Create-only: a file that another run made since the test is left alone
  // rather than emptied.
  // A file that cannot be made shows as the reset that cannot write it,
  // with the reason; closing an empty new file loses nothing.
  int li_filenum = -1;
  static_cast<void>(runtime::file_open(
      site_, as_file, runtime::OpenMode::kCreateNew, li_filenum));
  if (li_filenum != -1) {
    static_cast<void>(runtime::file_close(site_, li_filenum));
  }
  return 1;
}
