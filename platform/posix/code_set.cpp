#include <langinfo.h>
#include <strings.h>

#include <bit>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <memory>

#include "platform/posix/iconv_code_set.h"
#include "runtime/runtime_error.h"
#include "runtime/utf8.h"

namespace runtime {
namespace {

constexpr const char* kUtf16 =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

bool is_ascii(unsigned char b) { return b < 0x80; }

iconv_t open_iconv(const std::string& to, const std::string& from) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw_system_error("cannot convert between " + from + " and " + to);
  }
  return cd;
}

// Converts `in` with iconv, appending to `out`, until the end of `in` or the
// first sequence that does not convert. Returns the number of input bytes
// consumed; `error` is 0 when all of `in` was converted, else EILSEQ or
// EINVAL at the stop. The output passes through a buffer of fixed size, so
// a call costs what it converts, not what is left of the input.
template <class Out>
std::size_t convert(iconv_t cd, const char* in, std::size_t size, Out& out,
                    int& error) {
  using Unit = typename Out::value_type;
  char* inp = const_cast<char*>(in);
  std::size_t inleft = size;
  char buf[4096];
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  for (bool flushing = false;;) {
    char* outp = buf;
    std::size_t outleft = sizeof buf;
    // At the end, bring a shift state back to the initial one.
    std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &outp, &outleft)
                             : iconv(cd, &inp, &inleft, &outp, &outleft);
    int saved = errno;
    out.append(reinterpret_cast<const Unit*>(buf),
               static_cast<std::size_t>(outp - buf) / sizeof(Unit));
    if (r == static_cast<std::size_t>(-1) && saved == E2BIG) continue;
    if (r == static_cast<std::size_t>(-1) && !flushing) {
      error = saved;
      return size - inleft;
    }
    if (flushing) break;
    flushing = true;
  }
  error = 0;
  return size - inleft;
}

// The locale that setlocale(LC_CTYPE, "") would load: the first of LC_ALL,
// LC_CTYPE and LANG that is set and not empty.
std::string_view ctype_locale_name() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

// True for "UTF-8" and "utf8" in any case.
bool is_utf8_name(std::string_view code_set) {
  std::string name(code_set);
  return strcasecmp(name.c_str(), "UTF-8") == 0 ||
         strcasecmp(name.c_str(), "UTF8") == 0;
}

// True for locale names such as "zh_CN.UTF-8", "C.utf8" or "en_US.UTF-8@euro".
bool names_utf8(std::string_view locale) {
  std::size_t dot = locale.find('.');
  if (dot == std::string_view::npos) return false;
  return is_utf8_name(locale.substr(dot + 1, locale.find('@', dot) - dot - 1));
}

std::unique_ptr<CodeSet>& current_code_set() {
  static std::unique_ptr<CodeSet> code_set;
  return code_set;
}

}  // namespace

CodeSet::CodeSet(std::string name)
    : name_(std::move(name)), utf8_(is_utf8_name(name_)) {
  // UTF-8 is converted here directly, sparing every run the loading of a
  // conversion module; other code sets go through iconv.
  if (!utf8_) {
    to_utf16_ = open_iconv(kUtf16, name_);
    from_utf16_ = open_iconv(name_, kUtf16);
  }
}

CodeSet::~CodeSet() {
  if (!utf8_) {
    iconv_close(to_utf16_);
    iconv_close(from_utf16_);
  }
}

CodeSet& CodeSet::current() {
  std::unique_ptr<CodeSet>& code_set = current_code_set();
  if (!code_set) code_set = std::make_unique<CodeSet>("UTF-8");
  return *code_set;
}

Status init_locale() {
  // The code set is all the program takes from the locale, so only that
  // category is loaded, and not even that when the locale's name already
  // says UTF-8 (or names the C locale, which counts as UTF-8): a run is
  // short, and loading a locale costs as much as a quarter of it.
  std::string name = "UTF-8";
  std::string_view locale = ctype_locale_name();
  if (!locale.empty() && locale != "C" && locale != "POSIX" &&
      !names_utf8(locale)) {
    if (std::setlocale(LC_CTYPE, "") == nullptr) {
      current_code_set() = std::make_unique<CodeSet>(name);
      return Status::failure(
          "locale " + std::string(locale) + " is not installed; using UTF-8",
          0);
    }
    name = nl_langinfo(CODESET);
    if (name.empty() || name == "ANSI_X3.4-1968") name = "UTF-8";
  }
  current_code_set() = std::make_unique<CodeSet>(name);
  return Status();
}

std::u16string CodeSet::decode(std::string_view bytes) {
  if (utf8_) return decode_utf8(bytes);
  // Some code sets map two byte sequences to one character: make sure the
  // text encodes back to the very same bytes.
  std::u16string text = decode_with_iconv(bytes);
  if (encode(text) == bytes) return text;
  return decode_char_by_char(bytes);
}

std::u16string CodeSet::decode_with_iconv(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char b = bytes[i];
    if (is_ascii(b)) {
      out.push_back(b);
      ++i;
      continue;
    }
    int error = EILSEQ;
    if (never_lead_[b] != 1) {
      i += convert(to_utf16_, bytes.data() + i, bytes.size() - i, out, error);
    }
    if (error != 0) {
      unsigned char bad = bytes[i];
      if (never_lead_[bad] == 0) {
        never_lead_[bad] = never_starts_a_character(bad) ? 1 : -1;
      }
      out.push_back(kEscapeBase + bad);
      ++i;
    }
  }
  return out;
}

bool CodeSet::never_starts_a_character(unsigned char byte) {
  for (int next = 0; next < 256; ++next) {
    const char seq[2] = {static_cast<char>(byte), static_cast<char>(next)};
    std::u16string units;
    int error;
    if (convert(to_utf16_, seq, 2, units, error) != 0 || error != EILSEQ) {
      return false;
    }
  }
  return true;
}

std::u16string CodeSet::decode_char_by_char(std::string_view bytes) {
  std::u16string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char b = bytes[i];
    if (is_ascii(b)) {
      out.push_back(b);
      ++i;
      continue;
    }
    // The shortest sequence that decodes to one character and encodes back
    // to itself; else the lead byte alone is carried as an escape.
    std::size_t taken = 0;
    for (std::size_t k = 1; k <= 4 && i + k <= bytes.size() && !taken; ++k) {
      std::string_view seq = bytes.substr(i, k);
      std::u16string units;
      int error;
      convert(to_utf16_, seq.data(), seq.size(), units, error);
      bool one_char = units.size() == 1 ||
                      (units.size() == 2 && is_high_surrogate(units[0]));
      if (error == 0 && one_char && encode_with_iconv(units) == seq) {
        out += units;
        taken = k;
      }
    }
    if (!taken) {
      out.push_back(kEscapeBase + b);
      taken = 1;
    }
    i += taken;
  }
  return out;
}

std::string CodeSet::encode(std::u16string_view units) {
  return utf8_ ? encode_utf8(units) : encode_with_iconv(units);
}

std::string CodeSet::encode_with_iconv(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  std::size_t i = 0;
  std::size_t run_end = 0;  // the next escape at or after i, or the end
  while (i < units.size()) {
    char16_t u = units[i];
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
      ++i;
      continue;
    }
    if (is_escape(u)) {
      out.push_back(static_cast<char>(u - kEscapeBase));
      ++i;
      continue;
    }
    // iconv gets the text up to the next escape, which it cannot take.
    if (run_end <= i) {
      run_end = i;
      while (run_end < units.size() && !is_escape(units[run_end])) ++run_end;
    }
    int error;
    std::size_t used =
        convert(from_utf16_, reinterpret_cast<const char*>(units.data() + i),
                (run_end - i) * sizeof(char16_t), out, error);
    i += used / sizeof(char16_t);
    if (error == 0) continue;
    // A character the code set cannot hold.
    u = units[i];
    out.push_back('?');
    bool pair = is_high_surrogate(u) && i + 1 < units.size() &&
                is_low_surrogate(units[i + 1]);
    i += pair ? 2 : 1;
  }
  return out;
}

bool CodeSet::is_lead_byte(unsigned char byte) {
  if (utf8_ || is_ascii(byte)) return false;
  if (lead_[byte] == 0) {
    const char alone = static_cast<char>(byte);
    std::u16string units;
    int error;
    convert(to_utf16_, &alone, 1, units, error);
    lead_[byte] = error == EINVAL ? 1 : -1;
  }
  return lead_[byte] == 1;
}

Text from_ansi(std::string_view bytes) {
  return Text(CodeSet::current().decode(bytes));
}

std::string to_ansi(const Text& text) {
  return CodeSet::current().encode(text.units());
}

bool is_lead_byte(unsigned char byte) {
  return CodeSet::current().is_lead_byte(byte);
}

}  // namespace runtime
