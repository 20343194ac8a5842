#include "runtime/escape.h"

namespace runtime {
namespace {

// The length of the UTF-8 directional formatting character at the start
// of `s`, or 0.
std::size_t directional_mark(std::string_view s) {
  if (s.size() < 2) return 0;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (byte(0) == 0xd8 && byte(1) == 0x9c) return 2;  // U+061C
  if (s.size() < 3 || byte(0) != 0xe2) return 0;
  const unsigned char b1 = byte(1), b2 = byte(2);
  if (b1 == 0x80 && (b2 == 0x8e || b2 == 0x8f || (b2 >= 0xaa && b2 <= 0xae))) {
    return 3;  // U+200E, U+200F, U+202A to U+202E
  }
  if (b1 == 0x81 && b2 >= 0xa6 && b2 <= 0xa9) return 3;  // U+2066 to U+2069
  return 0;
}

void append_hex(std::string& out, unsigned char c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xf];
}

}  // namespace

std::string escape_controls(std::string_view bytes, std::string_view extra) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    std::size_t mark = directional_mark(bytes);
    for (std::size_t i = 0; i < mark; ++i) {
      append_hex(out, static_cast<unsigned char>(bytes[i]));
    }
    if (mark != 0) {
      bytes.remove_prefix(mark);
      continue;
    }
    const auto c = static_cast<unsigned char>(bytes.front());
    if (c < 0x20 || c == 0x7f || extra.find(bytes.front()) != extra.npos) {
      append_hex(out, c);
    } else {
      out += bytes.front();
    }
    bytes.remove_prefix(1);
  }
  return out;
}

}  // namespace runtime
