// The current local date and time, and its formatting by date patterns.
// now() raises the runtime error when the system clock cannot be read;
// formatting never fails.
//
// Implemented: portable formatting (runtime/clock.cpp) over each platform's
// clock (platform/*/clock.cpp).
#ifndef TOLMEX_RUNTIME_CLOCK_H_
#define TOLMEX_RUNTIME_CLOCK_H_

#include <cstdint>
#include <functional>

#include "runtime/text.h"

namespace runtime {

struct DateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The local date and time, to the millisecond.
DateTime now();

// Milliseconds on a clock that only goes forward, from an arbitrary start:
// for durations. Never fails.
std::int64_t monotonic_milliseconds();

// Replaces the clock within this process; an empty function restores the
// system clock. For unit tests.
void set_clock_for_testing(std::function<DateTime()> clock);

// Renders `when` by `pattern`: "yyyy" the year, "mm" the month (the minute
// when it follows "hh"), "dd" the day, "hh" the hour 00-23, "ss" the second,
// "fff" the millisecond; every other character stands as it is. A null
// pattern gives null.
Text format_date(const DateTime& when, const Text& pattern);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_CLOCK_H_
