#include "runtime/ini_text.h"

#include <algorithm>
#include <array>

#include "runtime/code_set.h"
#include "runtime/utf8.h"

namespace runtime {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

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

// Names compare without regard to ASCII case, and only to ASCII case: the
// platform folds no other character to an ASCII one.
template <typename Ch>
bool same_name(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
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

// A name or value as the platform keeps it: up to its first NUL.
template <typename Ch>
std::basic_string_view<Ch> until_nul(std::basic_string_view<Ch> s) {
  return s.substr(0, s.find(Ch(0)));
}

template <typename Ch>
Parsed<Ch> parse(std::basic_string_view<Ch> text) {
  Parsed<Ch> p;
  std::basic_string_view<Ch> t = trim(text);
  if (t.empty() || t[0] == ';') return p;
  if (t[0] == '[') {
    std::size_t close = t.rfind(Ch(']'));
    if (close != t.npos) {
      p.kind = Parsed<Ch>::kHeader;
      p.name = until_nul(trim(t.substr(1, close - 1)));
      return p;
    }
  }
  p.kind = Parsed<Ch>::kKey;
  std::size_t eq = text.find(Ch('='));
  if (eq == text.npos) {
    p.name = until_nul(t);
  } else {
    p.name = until_nul(trim(text.substr(0, eq)));
    p.value = until_nul(trim(text.substr(eq + 1)));
    p.equals = eq;
  }
  return p;
}

// A value as a lookup returns it: a value in a pair of quotes, "..." or
// '...', without them.
template <typename Ch>
std::basic_string_view<Ch> unquoted(std::basic_string_view<Ch> v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// True when the name a line holds, `kept` (cut as parse() cuts it), is
// `wanted`, whose blanks around it do not count.
template <typename Ch>
bool is_named(std::basic_string_view<Ch> kept,
              std::basic_string_view<Ch> wanted) {
  return same_name(kept, trim(wanted));
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
    if (h.kind != Parsed<Ch>::kHeader || !is_named(h.name, section)) continue;
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
    if (is_named(p.name, key)) {
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
    if (p.kind == Parsed<Ch>::kKey && is_named(p.name, key)) {
      if (!p.value) return std::nullopt;
      return std::basic_string<Ch>(unquoted(*p.value));
    }
  }
  return std::nullopt;
}

enum class Encoding { kUtf16Le, kUtf16Be, kUtf8, kCurrent };

bool is_utf16(Encoding encoding) {
  return encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be;
}

// The encoding a file's byte-order mark names, and the mark's size.
std::pair<Encoding, std::size_t> encoding_of(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) return {Encoding::kUtf8, kUtf8Bom.size()};
  if (bytes.starts_with(kUtf16LeBom)) return {Encoding::kUtf16Le, 2};
  if (bytes.starts_with(kUtf16BeBom)) return {Encoding::kUtf16Be, 2};
  return {Encoding::kCurrent, 0};
}

// The characters of a file's text (after its mark), a unit each, split as
// the platform's reader splits them. UTF-16 text is its own units; an odd
// last byte is left out. In 8-bit text a byte
// stands for itself, and a lead byte of the current code set with the byte
// after it for U+8000 + (lead & 0x7F) * 256 + next: the parser looks at
// ASCII characters only, so this is all it needs, and bytes_of() gives the
// very bytes back.
std::u16string units_of(std::string_view text, Encoding encoding) {
  std::u16string units;
  units.reserve(text.size());
  auto byte = [&](std::size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(text[i]));
  };
  if (is_utf16(encoding)) {
    const int high = encoding == Encoding::kUtf16Be ? 0 : 1;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
      units.push_back(
          static_cast<char16_t>(byte(i + high) << 8 | byte(i + 1 - high)));
    }
    return units;
  }
  const bool double_bytes = encoding == Encoding::kCurrent;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t b = byte(i);
    if (double_bytes && b >= 0x80 && i + 1 < text.size() &&
        is_lead_byte(static_cast<unsigned char>(b))) {
      b = static_cast<char16_t>(0x8000 | (b & 0x7F) << 8 | byte(++i));
    }
    units.push_back(b);
  }
  return units;
}

std::string bytes_of(std::u16string_view units, Encoding encoding) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    const char high = static_cast<char>(u >> 8);
    const char low = static_cast<char>(u & 0xFF);
    if (encoding == Encoding::kUtf16Le) {
      bytes += {low, high};
    } else if (encoding == Encoding::kUtf16Be) {
      bytes += {high, low};
    } else if (u > 0xFF) {
      bytes += {static_cast<char>(0x80 | high), low};
    } else {
      bytes += low;
    }
  }
  return bytes;
}

// A name or value in the units of a file in `encoding`.
std::u16string units_of(const Text& text, Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return units_of(encode_utf8(text.units()), encoding);
    case Encoding::kCurrent:
      return units_of(to_ansi(text), encoding);
    default:
      return std::u16string(text.units());
  }
}

Text text_of(std::u16string_view units, Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return Text(decode_utf8(bytes_of(units, encoding)));
    case Encoding::kCurrent:
      return from_ansi(bytes_of(units, encoding));
    default:
      return Text(std::u16string(units));
  }
}

}  // namespace

bool same_ini_name(std::u16string_view a, std::u16string_view b) {
  return same_name(trim(a), trim(b));
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
  // A stray byte in UTF-16 text (one put in or lost): a line cut short at
  // the end takes in what the platform's reader makes of it.
  if (is_torn_utf16(bytes)) return std::nullopt;
  const auto [encoding, mark] = encoding_of(bytes);
  const std::string_view text = bytes.substr(mark);
  std::u16string units = units_of(text, encoding);
  std::vector<std::array<std::u16string, 3>> written;
  for (const IniEdit& e : edits) {
    written.push_back({units_of(e.section, encoding), units_of(e.key, encoding),
                       units_of(e.value, encoding)});
    const auto& [section, key, value] = written.back();
    auto next = set_ini_key(units, section, key, value);
    if (!next) return std::nullopt;
    units = std::move(*next);
  }
  // Each key must read back as its value reads from a file of that key
  // alone (which holds no NUL, CR or LF).
  for (const auto& [section, key, value] : written) {
    if (get_ini_key(units, section, key) !=
        unquoted(trim(std::u16string_view(value)))) {
      return std::nullopt;
    }
  }
  std::string out(bytes.substr(0, mark));
  out += bytes_of(units, encoding);
  // A lead byte that a written name or value ends with, or that ends the
  // file before an added line, would take the next byte (a line end, "]" or
  // "=") into its character: the platform would read other lines than were
  // written.
  if (encoding == Encoding::kCurrent &&
      units_of(std::string_view(out), encoding) != units) {
    return std::nullopt;
  }
  return out;
}

bool is_torn_utf16(std::string_view bytes) {
  const auto [encoding, mark] = encoding_of(bytes);
  return is_utf16(encoding) && (bytes.size() - mark) % 2 != 0;
}

Text read_ini_file(std::string_view bytes, const Text& section,
                   const Text& key) {
  if (section.is_null() || key.is_null()) return Text::null();
  const auto [encoding, mark] = encoding_of(bytes);
  auto value =
      get_ini_key(units_of(bytes.substr(mark), encoding),
                  units_of(section, encoding), units_of(key, encoding));
  return value ? text_of(*value, encoding) : Text::null();
}

}  // namespace runtime
