// A code set by name, converted through iconv (UTF-8 by the program's own
// codec), with the lossless escapes of runtime/code_set.h. A code set that
// iconv does not know raises the runtime error when the object is made.
#ifndef TOLMEX_PLATFORM_POSIX_ICONV_CODE_SET_H_
#define TOLMEX_PLATFORM_POSIX_ICONV_CODE_SET_H_

#include <iconv.h>

#include <string>
#include <string_view>

#include "runtime/code_set.h"

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
  // True when `byte` alone is the start of a character, not a whole one.
  bool is_lead_byte(unsigned char byte);

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
  // Per byte value: 1 when it is a lead byte, -1 when not, 0 when not yet
  // asked.
  signed char lead_[256] = {};
};

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_ICONV_CODE_SET_H_
