#include "runtime/clock.h"

#include <cstdio>

#include "runtime/platform.h"

namespace runtime {
namespace {

std::function<DateTime()>& test_clock() {
  static std::function<DateTime()> clock;
  return clock;
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
