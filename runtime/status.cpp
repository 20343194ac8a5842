#include "runtime/status.h"

#include "runtime/platform.h"

namespace runtime {

std::string Status::message() const {
  if (error_ == 0) return what_;
  return what_ + ": " + system_error_text(error_, path_);
}

}  // namespace runtime
