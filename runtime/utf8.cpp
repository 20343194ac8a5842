#include "runtime/utf8.h"

namespace runtime {
namespace {

// The length of the well-formed UTF-8 character at the start of `s`
// (shortest form, no surrogates, at most U+10FFFF), or 0.
std::size_t utf8_char_length(std::string_view s) {
  auto at = [&](std::size_t i) -> unsigned {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0x100;
  };
  auto trail = [&](std::size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
    return at(i) >= lo && at(i) <= hi;
  };
  unsigned b = at(0);
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return trail(1) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    unsigned lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
    return trail(1, lo, hi) && trail(2) ? 3 : 0;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    unsigned lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
    return trail(1, lo, hi) && trail(2) && trail(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::u16string decode_utf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t n = utf8_char_length(bytes.substr(i));
    auto byte = [&](std::size_t k) -> char32_t {
      return static_cast<unsigned char>(bytes[i + k]);
    };
    char32_t c;
    switch (n) {
      case 0:
        out.push_back(kEscapeBase + static_cast<char16_t>(byte(0)));
        ++i;
        continue;
      case 1:
        c = byte(0);
        break;
      case 2:
        c = (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        break;
      case 3:
        c = (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        break;
      default:
        c = (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 |
            (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
        break;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += n;
  }
  return out;
}

std::string encode_utf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  auto put = [&](unsigned b) { out.push_back(static_cast<char>(b)); };
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (is_high_surrogate(units[i]) && i + 1 < units.size() &&
        is_low_surrogate(units[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (is_escape(units[i])) {
      put(c - kEscapeBase);
      continue;
    } else if (is_high_surrogate(units[i]) || is_low_surrogate(units[i])) {
      put('?');
      continue;
    }
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | c >> 6);
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | c >> 12);
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | c >> 18);
      put(0x80 | (c >> 12 & 0x3F));
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace runtime
