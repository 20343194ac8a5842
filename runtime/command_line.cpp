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

// What follows the option word of the Windows command line `line`, without
// the white space around it.
static std::u16string option_text(std::u16string_view line) {
  const std::u16string tail = windows_command_tail(line);
  std::u16string_view rest(tail);
  rest.remove_prefix(std::min(rest.size(), rest.find_first_of(u" \t")));
  rest.remove_prefix(
      std::min(rest.size(), rest.find_first_not_of(kWhiteSpace16)));
  return std::u16string(
      rest.substr(0, rest.find_last_not_of(kWhiteSpace16) + 1));
}

std::u16string windows_option_operand(std::u16string_view line) {
  const std::u16string text = option_text(line);
  std::u16string_view rest(text);
  if (rest.starts_with(u'"')) rest.remove_prefix(1);
  if (rest.ends_with(u'"')) {
    rest.remove_suffix(1);
    // argv's quoting doubles a backslash before the closing quote.
    if (rest.ends_with(u"\\\\")) rest.remove_suffix(1);
  }
  return std::u16string(rest);
}

std::vector<std::u16string> windows_option_operands(std::u16string_view line) {
  const std::u16string text = option_text(line);
  std::u16string_view rest(text);
  if (rest.empty()) return {};
  std::size_t split = rest.size();  // where the path ends
  if (rest.starts_with(u'"')) {
    const std::size_t close = rest.find(u'"', 1);
    if (close != std::u16string_view::npos) split = close + 1;
  } else if (rest.size() >= 2 && rest.ends_with(u'"')) {
    // A quoted word: from its opening quote.
    const std::size_t open = rest.rfind(u'"', rest.size() - 2);
    if (open != std::u16string_view::npos && open > 0) split = open;
  } else if (!rest.ends_with(u'\\') && !rest.ends_with(u'/')) {
    const std::size_t blank = rest.find_last_of(u" \t");
    if (blank != std::u16string_view::npos) split = blank;
  }
  // The path as windows_option_operand() takes the whole of a line.
  std::vector<std::u16string> operands{
      windows_option_operand(u"x y " + std::u16string(rest.substr(0, split)))};
  std::u16string_view word = rest.substr(split);
  word.remove_prefix(
      std::min(word.size(), word.find_first_not_of(kWhiteSpace16)));
  if (word.size() >= 2 && word.starts_with(u'"') && word.ends_with(u'"')) {
    word = word.substr(1, word.size() - 2);
  }
  if (split < rest.size()) operands.emplace_back(word);
  return operands;
}

Text client_command_tail(std::u16string_view line) {
  const std::u16string program = std::u16string(kClientProgram) + u' ';
  const std::size_t at = line.find(program);
  if (at == std::u16string_view::npos) return Text::null();
  return Text(std::u16string(line.substr(at + program.size())));
}

}  // namespace runtime
