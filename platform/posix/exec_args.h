// The argument and environment vectors a program is started with (execve,
// posix_spawn). Nothing here fails.
//
// Implemented: platform/posix/exec_args.cpp.
#ifndef TOLMEX_PLATFORM_POSIX_EXEC_ARGS_H_
#define TOLMEX_PLATFORM_POSIX_EXEC_ARGS_H_

#include <string>
#include <vector>

namespace runtime {

// `strings` as the vector execve() takes, ended by a null pointer. It points
// into `strings`, which must outlive it and stay unchanged.
std::vector<char*> c_strings(std::vector<std::string>& strings);

// This process's environment changed by the "NAME=value" entries of
// `changes`: an entry replaces the variable of its name, and "NAME=" (no
// value) removes it.
std::vector<std::string> changed_environment(
    const std::vector<std::string>& changes);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_EXEC_ARGS_H_
