#include "runtime/escape.h"

#include "runtime/code_set.h"

namespace runtime {
namespace {

// True for the characters that could move the cursor, end a line or turn
// the direction of what follows: C1 controls, the line and paragraph
// separators, and the directional formatting characters.
bool shown_as_code(char32_t c) {
  return (c >= 0x80 && c <= 0x9f) || c == 0x2028 || c == 0x2029 ||
         c == 0x061c || c == 0x200e || c == 0x200f ||
         (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

constexpr char kDigits[] = "0123456789abcdef";

std::string hex(unsigned char c) {
  return {'\\', 'x', kDigits[c >> 4], kDigits[c & 0xf]};
}

std::string code(char32_t c) {
  std::string out = "\\u{";
  for (int shift = c > 0xffff ? 20 : 12; shift >= 0; shift -= 4) {
    out += kDigits[(c >> shift) & 0xf];
  }
  return out + "}";
}

}  // namespace

Text escape_controls(const Text& text, std::string_view extra) {
  const std::u16string& units = text.units();
  std::u16string out;
  auto ascii = [&out](const std::string& s) { out.append(s.begin(), s.end()); };
  for (std::size_t i = 0; i < units.size();) {
    char32_t c = units[i];
    std::size_t n = 1;
    if (c >= 0xd800 && c <= 0xdbff && i + 1 < units.size() &&
        units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
      c = 0x10000 + ((c - 0xd800) << 10) + (units[i + 1] - 0xdc00);
      n = 2;
    }
    // A byte that is part of no character comes as U+DC00 + byte.
    const bool lone_byte = c >= 0xdc80 && c <= 0xdcff;
    if (lone_byte && c < 0xdca0) {
      ascii(hex(static_cast<unsigned char>(c - 0xdc00)));
    } else if (c < 0x20 || c == 0x7f ||
               (c < 0x80 && extra.find(static_cast<char>(c)) != extra.npos)) {
      ascii(hex(static_cast<unsigned char>(c)));
    } else if (!lone_byte && shown_as_code(c)) {
      ascii(code(c));
    } else {
      out.append(units, i, n);
    }
    i += n;
  }
  return Text(std::move(out));
}

std::string escape_controls(std::string_view bytes, std::string_view extra) {
  bool plain = true;
  for (char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    plain = plain && c >= 0x20 && c < 0x7f && extra.find(b) == extra.npos;
  }
  if (plain) return std::string(bytes);
  // The escapes are ASCII, which every code set keeps as it is.
  return to_ansi(escape_controls(from_ansi(bytes), extra));
}

}  // namespace runtime
