// Fuzzes the INI key writer: any file content, section, key and value. It
// must not crash; the write is refused, or the key reads back as in a file
// of that key alone and the file changed in one line only or by lines added,
// every other byte as before.
//
// Input: content, section, key and value separated by 0xFF bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::string parts[4];
  int part = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      if (++part == 4) break;
    } else {
      parts[part].push_back(static_cast<char>(data[i]));
    }
  }
  const std::string& before = parts[0];
  auto after = runtime::set_ini_key(before, parts[1], parts[2], parts[3]);
  if (!after) return 0;
  // The value reads back as it reads from a file of that key alone.
  if (runtime::get_ini_key(*after, parts[1], parts[2]) !=
      runtime::get_ini_key(
          *runtime::set_ini_key("", parts[1], parts[2], parts[3]), parts[1],
          parts[2])) {
    std::abort();
  }
  // What lies between the common start and the common end of the two files.
  std::size_t head = 0;
  while (head < before.size() && head < after->size() &&
         before[head] == (*after)[head]) {
    ++head;
  }
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after->size() - head &&
         before[before.size() - 1 - tail] ==
             (*after)[after->size() - 1 - tail]) {
    ++tail;
  }
  std::string_view removed(before.data() + head, before.size() - head - tail);
  std::string_view added(after->data() + head, after->size() - head - tail);
  bool one_line_changed = removed.find('\n') == std::string_view::npos &&
                          added.find('\n') == std::string_view::npos;
  if (!one_line_changed && !removed.empty()) std::abort();
  return 0;
}
