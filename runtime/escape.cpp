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

void append_hex(std::string& out, unsigned char c) {
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xf];
}

void append_code(std::string& out, char32_t c) {
  out += "\\u{";
  for (int shift = c > 0xffff ? 20 : 12; shift >= 0; shift -= 4) {
    out += kDigits[(c >> shift) & 0xf];
  }
  out += "}";
}

}  // namespace

std::string escape_controls(std::string_view bytes, std::string_view extra) {
  bool plain = true;
  for (char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    plain = plain && c >= 0x20 && c < 0x7f && extra.find(b) == extra.npos;
  }
  if (plain) return std::string(bytes);
  // The characters of the current code set; a byte that is part of none
  // comes as U+DC00 + byte.
  const std::u16string units = from_ansi(bytes).units();
  std::string out;
  std::u16string kept;  // characters shown as they are, not yet encoded
  auto show = [&] {
    out += to_ansi(Text(kept));
    kept.clear();
  };
  for (std::size_t i = 0; i < units.size();) {
    char32_t c = units[i];
    std::size_t n = 1;
    if (c >= 0xd800 && c <= 0xdbff && i + 1 < units.size() &&
        units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
      c = 0x10000 + ((c - 0xd800) << 10) + (units[i + 1] - 0xdc00);
      n = 2;
    }
    const bool lone_byte = c >= 0xdc80 && c <= 0xdcff;
    if (lone_byte && c < 0xdca0) {
      show();
      append_hex(out, static_cast<unsigned char>(c - 0xdc00));
    } else if (c < 0x20 || c == 0x7f ||
               (c < 0x80 && extra.find(static_cast<char>(c)) != extra.npos)) {
      show();
      append_hex(out, static_cast<unsigned char>(c));
    } else if (!lone_byte && shown_as_code(c)) {
      show();
      append_code(out, c);
    } else {
      kept.append(units, i, n);
    }
    i += n;
  }
  show();
  return out;
}

}  // namespace runtime
