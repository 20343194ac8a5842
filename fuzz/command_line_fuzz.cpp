// Fuzzes the way the parameter string comes in: any bytes as arguments, read
// in UTF-8 and in GBK, must decode without a crash and encode back to the
// very bytes of the command-line tail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/iconv_code_set.h"
#include "runtime/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  static runtime::CodeSet utf8("UTF-8");
  static runtime::CodeSet gbk("GBK");
  runtime::CodeSet& code_set = data[0] & 1 ? gbk : utf8;
  // The rest is the arguments, separated by NUL as the kernel hands them.
  std::vector<std::string> args{"tolmex"};
  args.emplace_back();
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::string tail =
      runtime::command_line_tail(static_cast<int>(argv.size()), argv.data());
  if (code_set.encode(code_set.decode(tail)) != tail) std::abort();
  return 0;
}
