// Text values as the application's objects see them: UTF-16 code units that
// may also be null, with the length, position search, substring, joining and
// comparison services. None of these functions fails; a null operand gives a
// null result.
//
// Implemented: portable (runtime/text.cpp).
#ifndef TOLMEX_RUNTIME_TEXT_H_
#define TOLMEX_RUNTIME_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace runtime {

// A nullable integer. Positions and lengths are 1-based counts of UTF-16 code
// units; 64 bits wide, so no text the kernel can hand over overflows them.
using Int = std::optional<std::int64_t>;

// A nullable truth value; a null condition counts as false.
using Bool = std::optional<bool>;

inline bool is_true(Bool b) { return b.value_or(false); }

// A text: a sequence of UTF-16 code units, or null. A default-made text is
// the empty text, not null; null only comes from Text::null() or from an
// operation with a null operand.
class Text {
 public:
  Text() = default;
  Text(const char16_t* units) : units_(units) {}
  Text(std::u16string units) : units_(std::move(units)) {}
  Text(std::u16string_view units) : units_(units) {}

  static Text null() {
    Text t;
    t.null_ = true;
    return t;
  }

  bool is_null() const { return null_; }
  // The code units; empty for a null text.
  const std::u16string& units() const { return units_; }

  // Identity, null included: for tests and containers, not the script's
  // comparison (which is equals() below).
  friend bool operator==(const Text&, const Text&) = default;

 private:
  std::u16string units_;
  bool null_ = false;
};

// Concatenation.
Text operator+(const Text& a, const Text& b);

// Comparison: equal when identical, case counting.
Bool equals(const Text& a, const Text& b);

// Number of code units.
Int len(const Text& s);

// Position of the first occurrence of `search` in `source` at or after
// `start`; 0 when there is none, when `search` is empty or when `start` lies
// outside 1..len(source).
Int pos(const Text& source, const Text& search, Int start);

// At most `length` units of `source` from `start`; fewer at its end. The
// empty text when `start` is below 1 or past the end, or `length` is
// negative: a field with no end is an empty field.
Text mid(const Text& source, Int start, Int length);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_TEXT_H_
