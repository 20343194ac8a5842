#include "runtime/status.h"

#include <cstring>

namespace runtime {

std::string Status::message() const {
  if (error_ == 0) return what_;
  return what_ + ": " + std::strerror(error_);
}

}  // namespace runtime
