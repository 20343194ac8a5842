// Whole reads and writes on a file descriptor that go on after a signal and
// after a short transfer. Failures are returned as false, never thrown.
#ifndef TOLMEX_PLATFORM_POSIX_FD_IO_H_
#define TOLMEX_PLATFORM_POSIX_FD_IO_H_

#include <sys/types.h>

#include <string>
#include <string_view>

namespace runtime {

// read(2) that goes on after a signal interrupts it: the bytes read, 0 at
// the end, or -1 with errno set.
ssize_t read_some(int fd, char* buf, std::size_t size);

// Appends what is left of the file to `out`, but at most `limit` bytes, so
// that a file that another process keeps growing costs no more than that.
bool read_up_to(int fd, std::size_t limit, std::string& out);

// Writes all of `data`; false when the file took less (a full disk).
bool write_all(int fd, std::string_view data);

// Writes all of `data` at `offset`, leaving the file offset alone.
bool write_all_at(int fd, std::string_view data, off_t offset);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_FD_IO_H_
