// Status: the outcome of every runtime and platform operation that can
// fail: success, or what failed (with the path it failed on) and the
// system's error number, which message() alone turns into its text. It prints
// as "cannot write /srv/pay/tolmex.ini: Permission denied". Making or reading
// one never fails. A Status is a plain value; copies are independent.
//
// Implemented: portable (runtime/status.cpp), the error texts per platform
// (platform/*/system_error.cpp).
#ifndef TOLMEX_RUNTIME_STATUS_H_
#define TOLMEX_RUNTIME_STATUS_H_

#include <string>
#include <utility>

namespace runtime {

class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;

  // A failure: `what` says what failed, e.g. "cannot write /a/tolmex.ini";
  // `error` is the system's error number that says why (errno on POSIX
  // systems, GetLastError() on Windows; 0: no system reason).
  static Status failure(std::string what, int error) {
    return Status(std::move(what), "", error);
  }
  // The same for a failure on the file `path`, which the system's text may
  // name (see system_error_text()).
  static Status failure(std::string what, std::string path, int error) {
    return Status(std::move(what), std::move(path), error);
  }

  bool ok() const { return !failed_; }
  int error() const { return error_; }

  // "" for success; else `what`, then ": " and the system's text for the
  // error when there is one.
  std::string message() const;

 private:
  Status(std::string what, std::string path, int error)
      : failed_(true),
        what_(std::move(what)),
        path_(std::move(path)),
        error_(error) {}

  bool failed_ = false;
  std::string what_;
  std::string path_;
  int error_ = 0;
};

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_STATUS_H_
