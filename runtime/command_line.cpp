#include "runtime/command_line.h"

#include <algorithm>

namespace runtime {
namespace {

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
constexpr std::u16string_view kWhiteSpace16 = u" \t\n\v\f\r";

}  // namespace

std::string command_line_tail(int argc, const char* const* argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return tail.substr(
      std::min(tail.size(), tail.find_first_not_of(kWhiteSpace)));
}

std::u16string windows_command_tail(std::u16string_view line) {
  std::size_t end;
  if (line.starts_with(u'"')) {
    std::size_t quote = line.find(u'"', 1);
    end = quote == std::u16string_view::npos ? line.size() : quote + 1;
  } else {
    end = std::min(line.size(), line.find_first_of(u" \t"));
  }
  end = std::min(line.size(), line.find_first_not_of(kWhiteSpace16, end));
  return std::u16string(line.substr(end));
}

Text client_command_tail(std::u16string_view line) {
  constexpr std::u16string_view kProgram = u"mart.exe ";
  const std::size_t at = line.find(kProgram);
  if (at == std::u16string_view::npos) return Text::null();
  return Text(std::u16string(line.substr(at + kProgram.size())));
}

}  // namespace runtime
