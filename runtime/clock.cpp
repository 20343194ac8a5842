#include "runtime/clock.h"

#include <cstdio>
#include <ctime>

#include "runtime/runtime_error.h"

namespace runtime {
namespace {

std::function<DateTime()>& test_clock() {
  static std::function<DateTime()> clock;
  return clock;
}

DateTime system_now() {
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    throw_system_error("cannot read the clock");
  }
  tm local;
  if (localtime_r(&ts.tv_sec, &local) == nullptr) {
    throw_system_error("cannot convert the clock to local time");
  }
  return DateTime{local.tm_year + 1900,
                  local.tm_mon + 1,
                  local.tm_mday,
                  local.tm_hour,
                  local.tm_min,
                  local.tm_sec,
                  static_cast<int>(ts.tv_nsec / 1000000)};
}

void append_digits(std::u16string& out, int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  for (const char* p = buf; *p; ++p) out.push_back(*p);
}

}  // namespace

DateTime now() {
  if (test_clock()) return test_clock()();
  return system_now();
}

std::int64_t monotonic_milliseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);  // cannot fail for this clock
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

void set_clock_for_testing(std::function<DateTime()> clock) {
  test_clock() = std::move(clock);
}

Text format_date(const DateTime& when, const Text& pattern) {
  if (pattern.is_null()) return Text::null();
  const std::u16string& p = pattern.units();
  std::u16string out;
  bool after_hour = false;
  for (std::size_t i = 0; i < p.size();) {
    auto token = [&](std::u16string_view t) {
      return p.compare(i, t.size(), t) == 0;
    };
    if (token(u"yyyy")) {
      append_digits(out, when.year, 4);
      i += 4;
    } else if (token(u"fff")) {
      append_digits(out, when.millisecond, 3);
      i += 3;
    } else if (token(u"mm")) {
      append_digits(out, after_hour ? when.minute : when.month, 2);
      i += 2;
    } else if (token(u"dd")) {
      append_digits(out, when.day, 2);
      i += 2;
    } else if (token(u"hh")) {
      append_digits(out, when.hour, 2);
      after_hour = true;
      i += 2;
    } else if (token(u"ss")) {
      append_digits(out, when.second, 2);
      i += 2;
    } else {
      out.push_back(p[i++]);
    }
  }
  return Text(std::move(out));
}

}  // namespace runtime
