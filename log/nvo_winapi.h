// nvo_winapi: makes sure a file of a request's site exists by creating an
// empty one. Never fails: the result is 1 in every case.
#ifndef TOLMEX_LOG_NVO_WINAPI_H_
#define TOLMEX_LOG_NVO_WINAPI_H_

#include "runtime/site.h"
#include "runtime/text.h"
#include "runtime/trace.h"

class nvo_winapi {
 public:
  static constexpr runtime::TraceCode kTraceCode = 0x808;

  // Works on the files of `site`, which must outlive it.
  explicit nvo_winapi(runtime::Site& site) : site_(site) {}

  // Creates `as_file` empty (zero bytes) when it does not exist. An existing
  // file, even one that appears at the last moment, is never touched.
  int of_create_file(runtime::Text as_file);

 private:
  runtime::Site& site_;
};

#endif  // TOLMEX_LOG_NVO_WINAPI_H_
