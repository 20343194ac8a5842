// Whole reads and writes on a file descriptor that go on after a signal and
// after a short transfer. Failures are returned as false, never thrown.
#ifndef TOLMEX_PLATFORM_POSIX_FD_IO_H_
#define TOLMEX_PLATFORM_POSIX_FD_IO_H_

#include <sys/types.h>

#include <string>
#include <string_view>

namespace runtime {

// Appends everything up to the end of the file to `out`.
bool read_all(int fd, std::string& out);

// Writes all of `data`; false when the file took less (a full disk).
bool write_all(int fd, std::string_view data);

// Writes all of `data` at `offset`, leaving the file offset alone.
bool write_all_at(int fd, std::string_view data, off_t offset);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_FD_IO_H_
