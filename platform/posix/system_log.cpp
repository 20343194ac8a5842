#include "runtime/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/posix/unique_fd.h"
#include "runtime/code_set.h"

namespace runtime {
namespace {

constexpr char kSocketPath[] = "/dev/log";
constexpr int kUserInfo = 1 * 8 + 6;  // facility user, level info

// "<14>Dec  7 09:05:01 " as RFC 3164 has it: English month, day padded
// with a blank, local time.
std::string header() {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  std::time_t t = std::time(nullptr);
  std::tm local = {};
  localtime_r(&t, &local);
  char buf[48];
  std::snprintf(buf, sizeof buf, "<%d>%s %2d %02d:%02d:%02d ", kUserInfo,
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec);
  return buf;
}

}  // namespace

const std::string_view kSystemLogEscaped = "\"\\";

void write_system_log(std::string_view ident, const Text& message) {
  UniqueFd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return;
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", kSocketPath);
  std::string line = header();
  line.append(ident);
  line += '[';
  line += std::to_string(::getpid());
  line += "]: ";
  line += to_ansi(message);
  // Dropped, not retried, when nobody listens or the queue is full.
  ::sendto(sock.get(), line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

}  // namespace runtime
