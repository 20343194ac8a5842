// The command-line tail: the host's parameter string as the process received
// it, and as a payment client receives it. Never fails.
//
// Implemented: the tails portable (runtime/command_line.cpp), command_line()
// and client_parameters() per platform (platform/*/command_line.cpp).
#ifndef TOLMEX_RUNTIME_COMMAND_LINE_H_
#define TOLMEX_RUNTIME_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

namespace runtime {

// The parameter string of this process: on POSIX systems
// command_line_tail() of `argv`, from the current code set; on Windows
// windows_command_tail() of the process's own UTF-16 command line (`argv`
// is not used there, so no code page touches the text).
Text command_line(int argc, const char* const* argv);

// The arguments after the program name joined by single spaces, with the
// white space at its start cut (blank, tab, LF, VT, FF, CR); white space at
// its end stays. A host that passes the parameter string as one argument gets
// it back byte for byte.
std::string command_line_tail(int argc, const char* const* argv);

// The tail of a whole Windows command line: what follows the program name
// (up to the closing double quote when it starts with one, else up to the
// first blank or tab), with the white space at its start cut as above.
std::u16string windows_command_tail(std::u16string_view line);

// The operand of an option given as the first argument ("--check P"), null
// when there is none: on POSIX systems the second argument, from the
// current code set, when it is the last; on Windows, with two arguments or
// more, windows_option_operand() of the process's own UTF-16 command line,
// so that neither a code page nor the quoting rules of argv touch the path.
Text option_operand(int argc, const char* const* argv);

// The operand in a whole Windows command line: the rest of the line after
// the program name and the first argument, with the white space at both
// ends cut and one double quote dropped at either end, and a doubled
// backslash before the closing quote taken as one (as argv's quoting
// writes it). So `--check "C:\pos data\"` gives `C:\pos data\` (argv would
// end it with a quote), and `--check C:\pos data\`, unquoted, the same.
std::u16string windows_option_operand(std::u16string_view line);

// The operands of an option given as the first argument ("--result P
// OUT_TRADE_NO"): on POSIX systems the arguments after it, from the current
// code set; on Windows windows_option_operands() of the process's own
// UTF-16 command line. Empty when there is none.
std::vector<Text> option_operands(int argc, const char* const* argv);

// The operands in a whole Windows command line: a path first, taken as
// windows_option_operand() takes it, and then one more word. The path ends
// at the closing quote when it starts with one; unquoted, it is the rest of
// the line when that ends with a separator ("\" or "/") or holds no blank,
// else all but the last word. The word after it loses one pair of quotes.
std::vector<std::u16string> windows_option_operands(std::u16string_view line);

// The parameter string of a payment client (the client's side of the
// contract): on POSIX systems its one argument, from the current code set;
// on Windows client_command_tail() of its own UTF-16 command line. Null
// when there is none.
Text client_parameters(int argc, const char* const* argv);

// The name of the copy of the payment client that tolmex starts, as
// P + this name + " " + the parameter string.
inline constexpr char16_t kClientProgram[] = u"mart.exe";

// The parameter string in a client's whole Windows command line, which
// tolmex makes as P + "mart.exe " + parameter string, unquoted: the text
// after the first "mart.exe ", so that a blank in P splits nothing. Null
// for a line without "mart.exe ".
Text client_command_tail(std::u16string_view line);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_COMMAND_LINE_H_
