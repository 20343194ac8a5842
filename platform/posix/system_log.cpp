#include "runtime/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/posix/unique_fd.h"
#include "runtime/code_set.h"
#include "runtime/utf8.h"

namespace runtime {
namespace {

constexpr char kSocketPath[] = "/dev/log";
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";
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

// Sends the datagram `data` through `sock` to the socket `path` without
// waiting; false when it did not go (nobody listens, the queue is full, too
// large).
bool send_to(const UniqueFd& sock, const char* path, const std::string& data) {
  if (!sock.valid()) return false;
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path) >=
      static_cast<int>(sizeof addr.sun_path)) {
    return false;
  }
  return ::sendto(sock.get(), data.data(), data.size(),
                  MSG_DONTWAIT | MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&addr),
                  sizeof addr) == static_cast<ssize_t>(data.size());
}

// `text` in UTF-8 for the journal, which takes nothing else for text: a
// byte that was no character in the code set shows as "\xHH".
std::string journal_text(const Text& text) {
  std::u16string units;
  for (char16_t u : text.units()) {
    if (is_escape(u)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u & 0xff);
      units.append(hex, hex + 4);
    } else {
      units += u;
    }
  }
  return encode_utf8(units);
}

// One field of a native journal datagram: "NAME=value\n", or where the
// value holds a line end, the name, a line end, its size in 64 bits
// little-endian and the value.
void add_field(std::string& out, std::string_view name,
               const std::string& value) {
  out += name;
  if (value.find('\n') == std::string::npos) {
    out += '=';
  } else {
    out += '\n';
    for (int i = 0; i < 8; ++i) {
      out += static_cast<char>((value.size() >> (8 * i)) & 0xff);
    }
  }
  out += value;
  out += '\n';
}

}  // namespace

const std::string_view kSystemLogEscaped = "\"\\";

void write_system_log(std::string_view ident, const Text& message,
                      const std::vector<LogField>& fields) {
  std::string record;
  add_field(record, "MESSAGE", journal_text(message));
  add_field(record, "PRIORITY", "6");
  add_field(record, "SYSLOG_FACILITY", "1");
  add_field(record, "SYSLOG_IDENTIFIER", std::string(ident));
  const std::string pid = std::to_string(::getpid());
  add_field(record, "SYSLOG_PID", pid);
  for (const LogField& field : fields) {
    if (field.value.is_null()) continue;  // a missing key: no field
    add_field(record, field.name, journal_text(field.value));
  }
  const UniqueFd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (send_to(sock, kJournalSocket, record)) return;
  std::string line = header();
  line.append(ident);
  line += '[';
  line += pid;
  line += "]: ";
  line += to_ansi(message);
  // Dropped, not retried, when nobody listens or the queue is full.
  send_to(sock, kSocketPath, line);
}

}  // namespace runtime
