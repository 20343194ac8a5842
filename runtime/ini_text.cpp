#include "runtime/ini_text.h"

#include <algorithm>

#include "runtime/code_set.h"
#include "runtime/utf8.h"

namespace runtime {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

// Blanks as the profile functions skip them around names and values.
template <typename Ch>
bool is_blank(Ch c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

template <typename Ch>
std::basic_string_view<Ch> trim(std::basic_string_view<Ch> s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

template <typename Ch>
bool same_name(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
  a = trim(a);
  b = trim(b);
  auto lower = [](Ch c) { return c >= 'A' && c <= 'Z' ? Ch(c + 32) : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](Ch x, Ch y) { return lower(x) == lower(y); });
}

// One line of the file: [begin, end) is its text without the line end,
// `next` where the following line starts.
struct Line {
  std::size_t begin, end, next;
};

template <typename Ch>
std::vector<Line> split_lines(std::basic_string_view<Ch> ini) {
  std::vector<Line> lines;
  std::size_t begin = 0;
  if constexpr (sizeof(Ch) == 1) {
    if (ini.starts_with(kUtf8Bom)) begin = kUtf8Bom.size();
  }
  while (begin < ini.size()) {
    std::size_t end = begin;
    while (end < ini.size() && ini[end] != '\r' && ini[end] != '\n') ++end;
    std::size_t next = end;
    if (next < ini.size() && ini[next++] == '\r' && next < ini.size() &&
        ini[next] == '\n') {
      ++next;
    }
    lines.push_back({begin, end, next});
    begin = next;
  }
  return lines;
}

// What a line is: a header with its name, a key line with its name and
// value (none for a key alone), or neither (blank or comment).
template <typename Ch>
struct Parsed {
  enum { kOther, kHeader, kKey } kind = kOther;
  std::basic_string_view<Ch> name;
  std::optional<std::basic_string_view<Ch>> value;
  std::size_t equals = 0;  // where "=" stands in the line's text
};

template <typename Ch>
Parsed<Ch> parse(std::basic_string_view<Ch> text) {
  Parsed<Ch> p;
  std::basic_string_view<Ch> t = trim(text);
  if (t.empty() || t[0] == ';') return p;
  if (t[0] == '[') {
    std::size_t close = t.rfind(Ch(']'));
    if (close != t.npos) {
      p.kind = Parsed<Ch>::kHeader;
      p.name = trim(t.substr(1, close - 1));
      return p;
    }
  }
  p.kind = Parsed<Ch>::kKey;
  std::size_t eq = text.find(Ch('='));
  if (eq == text.npos) {
    p.name = t;
  } else {
    p.name = trim(text.substr(0, eq));
    p.value = trim(text.substr(eq + 1));
    p.equals = eq;
  }
  return p;
}

// The lines of the first section named `section`: [first, last) indexes,
// `first` being the header; nullopt when there is none.
template <typename Ch>
std::optional<std::pair<std::size_t, std::size_t>> find_section(
    std::basic_string_view<Ch> ini, const std::vector<Line>& lines,
    std::basic_string_view<Ch> section) {
  auto header = [&](std::size_t i) {
    return parse(ini.substr(lines[i].begin, lines[i].end - lines[i].begin));
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Parsed<Ch> h = header(i);
    if (h.kind != Parsed<Ch>::kHeader || !same_name(h.name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && header(j).kind != Parsed<Ch>::kHeader) ++j;
    return std::make_pair(i, j);
  }
  return std::nullopt;
}

template <typename Ch>
bool has_line_break(std::basic_string_view<Ch> s) {
  return std::any_of(s.begin(), s.end(),
                     [](Ch c) { return c == '\r' || c == '\n' || c == 0; });
}

template <typename Ch>
bool acceptable(std::basic_string_view<Ch> section,
                std::basic_string_view<Ch> key,
                std::basic_string_view<Ch> value) {
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) {
    return false;
  }
  std::basic_string_view<Ch> k = trim(key);
  return !trim(section).empty() && section.find(Ch(']')) == section.npos &&
         !k.empty() && key.find(Ch('=')) == key.npos && k[0] != '[' &&
         k[0] != ';' && k[0] != '#';
}

// The line end of the file's first line; CR LF when it has none.
template <typename Ch>
std::basic_string<Ch> first_line_end(std::basic_string_view<Ch> ini,
                                     const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (line.next > line.end) {
      return std::basic_string<Ch>(ini.substr(line.end, line.next - line.end));
    }
  }
  return {Ch('\r'), Ch('\n')};
}

template <typename Ch>
std::optional<std::basic_string<Ch>> set_key(std::basic_string_view<Ch> ini,
                                             std::basic_string_view<Ch> section,
                                             std::basic_string_view<Ch> key,
                                             std::basic_string_view<Ch> value) {
  if (!acceptable(section, key, value)) return std::nullopt;
  std::vector<Line> lines = split_lines(ini);
  const std::basic_string<Ch> eol = first_line_end(ini, lines);
  std::basic_string<Ch> entry(key);
  entry += Ch('=');
  entry += value;
  std::basic_string<Ch> out(ini);
  // A last line without a line end gets one before a line is added after it.
  const bool open_end = !lines.empty() && lines.back().next == lines.back().end;

  auto found = find_section(ini, lines, section);
  if (!found) {
    if (open_end) out += eol;
    out += Ch('[');
    out += section;
    out += Ch(']');
    out += eol + entry + eol;
    return out;
  }
  auto [header, end] = *found;
  std::size_t last_entry = header;
  for (std::size_t i = header + 1; i < end; ++i) {
    const Line& line = lines[i];
    Parsed<Ch> p = parse(ini.substr(line.begin, line.end - line.begin));
    if (p.kind != Parsed<Ch>::kKey) continue;
    if (same_name(p.name, key)) {
      if (!p.value) {
        std::basic_string<Ch> with_value{Ch('=')};
        out.insert(line.end, with_value + std::basic_string<Ch>(value));
      } else {
        std::size_t from = line.begin + p.equals + 1;
        out.replace(from, line.end - from, value);
      }
      return out;
    }
    last_entry = i;
  }
  const Line& after = lines[last_entry];
  if (after.next == ini.size() && open_end) {
    // After a last line that has no line end: end it, and leave the new
    // last line without one, as the file was.
    out.insert(after.next, eol + entry);
  } else {
    out.insert(after.next, entry + eol);
  }
  return out;
}

template <typename Ch>
std::optional<std::basic_string<Ch>> get_key(std::basic_string_view<Ch> ini,
                                             std::basic_string_view<Ch> section,
                                             std::basic_string_view<Ch> key) {
  std::vector<Line> lines = split_lines(ini);
  auto found = find_section(ini, lines, section);
  if (!found) return std::nullopt;
  for (std::size_t i = found->first + 1; i < found->second; ++i) {
    const Line& line = lines[i];
    Parsed<Ch> p = parse(ini.substr(line.begin, line.end - line.begin));
    if (p.kind == Parsed<Ch>::kKey && same_name(p.name, key)) {
      if (!p.value) return std::nullopt;
      return std::basic_string<Ch>(*p.value);
    }
  }
  return std::nullopt;
}

enum class Encoding { kUtf16Le, kUtf8, kCurrent };

Encoding encoding_of(std::string_view bytes) {
  if (bytes.starts_with(kUtf16LeBom)) return Encoding::kUtf16Le;
  if (bytes.starts_with(kUtf8Bom)) return Encoding::kUtf8;
  return Encoding::kCurrent;
}

// The UTF-16 units of the file after its byte-order mark; an odd last byte
// is left out (and kept by the caller).
std::u16string utf16le_units(std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = kUtf16LeBom.size(); i + 1 < bytes.size(); i += 2) {
    units.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                              static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

std::string utf16le_bytes(std::u16string_view units) {
  std::string bytes(kUtf16LeBom);
  for (char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

// The 8-bit form of a name or value in the file's encoding.
std::string narrow(const Text& text, Encoding encoding) {
  return encoding == Encoding::kUtf8 ? encode_utf8(text.units())
                                     : to_ansi(text);
}

}  // namespace

bool same_ini_name(std::u16string_view a, std::u16string_view b) {
  return same_name(a, b);
}

std::optional<std::string> set_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key,
                                       std::string_view value) {
  return set_key(ini, section, key, value);
}

std::optional<std::u16string> set_ini_key(std::u16string_view ini,
                                          std::u16string_view section,
                                          std::u16string_view key,
                                          std::u16string_view value) {
  return set_key(ini, section, key, value);
}

std::optional<std::string> get_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key) {
  return get_key(ini, section, key);
}

std::optional<std::u16string> get_ini_key(std::u16string_view ini,
                                          std::u16string_view section,
                                          std::u16string_view key) {
  return get_key(ini, section, key);
}

std::optional<std::string> edit_ini_file(std::string_view bytes,
                                         const std::vector<IniEdit>& edits) {
  for (const IniEdit& e : edits) {
    if (e.section.is_null() || e.key.is_null() || e.value.is_null()) {
      return std::nullopt;
    }
  }
  const Encoding encoding = encoding_of(bytes);
  if (encoding == Encoding::kUtf16Le) {
    std::u16string units = utf16le_units(bytes);
    for (const IniEdit& e : edits) {
      auto next =
          set_ini_key(units, e.section.units(), e.key.units(), e.value.units());
      if (!next) return std::nullopt;
      units = std::move(*next);
    }
    std::string out = utf16le_bytes(units);
    if (bytes.size() % 2 != 0) out.push_back(bytes.back());
    return out;
  }
  std::string out(bytes);
  for (const IniEdit& e : edits) {
    auto next = set_ini_key(out, narrow(e.section, encoding),
                            narrow(e.key, encoding), narrow(e.value, encoding));
    if (!next) return std::nullopt;
    out = std::move(*next);
  }
  return out;
}

Text read_ini_file(std::string_view bytes, const Text& section,
                   const Text& key) {
  if (section.is_null() || key.is_null()) return Text::null();
  const Encoding encoding = encoding_of(bytes);
  if (encoding == Encoding::kUtf16Le) {
    auto value =
        get_ini_key(utf16le_units(bytes), section.units(), key.units());
    return value ? Text(*value) : Text::null();
  }
  auto value =
      get_ini_key(bytes, narrow(section, encoding), narrow(key, encoding));
  if (!value) return Text::null();
  return encoding == Encoding::kUtf8 ? Text(decode_utf8(*value))
                                     : from_ansi(*value);
}

}  // namespace runtime
