// The 8-bit code set in which text enters and leaves the program (the
// command line, the log, paths, the client's command line), and the lossless
// conversion between it and the program's UTF-16 text.
//
// Decoding never fails and never loses a byte: a byte that does not start a
// valid character is carried as the lone surrogate U+DC00 + byte (U+DC80 to
// U+DCFF), and encoding turns such a surrogate back into that very byte. Any
// other character the code set cannot hold is encoded as "?". A code set that
// iconv does not know raises the runtime error when the object is made.
#ifndef TOLMEX_RUNTIME_CODE_SET_H_
#define TOLMEX_RUNTIME_CODE_SET_H_

#include <iconv.h>

#include <string>
#include <string_view>

#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

class CodeSet {
 public:
  // `name` as iconv knows it, e.g. "UTF-8" or "GBK".
  explicit CodeSet(std::string name);
  ~CodeSet();
  CodeSet(const CodeSet&) = delete;
  CodeSet& operator=(const CodeSet&) = delete;

  // The code set of the process's locale: call init_locale() first. A plain
  // C or POSIX locale counts as UTF-8.
  static CodeSet& current();

  const std::string& name() const { return name_; }

  std::u16string decode(std::string_view bytes);
  std::string encode(std::u16string_view units);

 private:
  std::u16string decode_with_iconv(std::string_view bytes);
  bool never_starts_a_character(unsigned char byte);
  std::u16string decode_char_by_char(std::string_view bytes);
  std::string encode_with_iconv(std::u16string_view units);

  std::string name_;
  bool utf8_;
  iconv_t to_utf16_ = nullptr;  // not used for UTF-8
  iconv_t from_utf16_ = nullptr;
  // Per byte value: 1 when it starts no character whatever follows, -1 when
  // it may, 0 when not yet asked. Spares an iconv call per invalid byte.
  signed char never_lead_[256] = {};
};

// Takes the code set of the process from the locale environment (LC_ALL,
// LC_CTYPE, LANG) and makes it the current one. A locale that is not
// installed leaves UTF-8 in use, and the result is a failure that names it
// (a warning: the run can go on).
Status init_locale();

// Text from the current code set, and back.
Text from_ansi(std::string_view bytes);
std::string to_ansi(const Text& text);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_CODE_SET_H_
