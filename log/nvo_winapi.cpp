#include "log/nvo_winapi.h"

#include "runtime/files.h"

int nvo_winapi::of_create_file(runtime::Text as_file) {
  if (runtime::file_exists(as_file)) return 1;
  // Create-only: a file that another run made since the test is left alone
  // rather than emptied.
  int li_filenum = -1;
  runtime::file_open(as_file, runtime::OpenMode::kCreateNew, li_filenum);
  if (li_filenum != -1) runtime::file_close(li_filenum);
  return 1;
}
