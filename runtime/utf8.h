// UTF-8 and the program's UTF-16 text, losslessly: a byte that does not
// start a well-formed character (shortest form, no surrogates, at most
// U+10FFFF) is carried as the lone surrogate U+DC00 + byte, and encoding
// turns such a surrogate back into that very byte; any other lone surrogate
// is encoded as "?". Never fails.
//
// Implemented: portable (runtime/utf8.cpp).
#ifndef TOLMEX_RUNTIME_UTF8_H_
#define TOLMEX_RUNTIME_UTF8_H_

#include <string>
#include <string_view>

namespace runtime {

// The first escape: U+DC80..U+DCFF carry the bytes 80..FF.
inline constexpr char16_t kEscapeBase = 0xDC00;

inline bool is_escape(char16_t u) { return u >= 0xDC80 && u <= 0xDCFF; }
inline bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

std::u16string decode_utf8(std::string_view bytes);
std::string encode_utf8(std::u16string_view units);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_UTF8_H_
