#include "runtime/status.h"

#include "runtime/platform.h"

namespace runtime {

std::string Status::message() const {
  if (error_ == 0) return what_;
  return what_ + ": " + system_error_text(error_);
}

namespace {

Status& last() {
  static Status status;
  return status;
}

}  // namespace

Status last_failure() { return last(); }

void set_last_failure(Status status) { last() = std::move(status); }

}  // namespace runtime
