// nvo_winapi: makes sure a file exists by creating an empty one. Never
// fails: the result is 1 in every case.
#ifndef TOLMEX_LOG_NVO_WINAPI_H_
#define TOLMEX_LOG_NVO_WINAPI_H_

#include "runtime/text.h"
#include "runtime/trace.h"

class nvo_winapi {
 public:
  static constexpr runtime::TraceCode kTraceCode = 0x808;

  // Creates `as_file` empty (zero bytes) when it does not exist. An existing
  // file, even one that appears at the last moment, is never touched.
  int of_create_file(runtime::Text as_file);
};

#endif  // TOLMEX_LOG_NVO_WINAPI_H_
