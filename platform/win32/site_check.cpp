// The site check on Windows: the checks that apply where access control
// lists, not mode bits, decide who may write, and where there is no
// system log socket.
#include "runtime/site_check.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/status.h"

namespace runtime {
namespace {

using Findings = std::vector<Finding>;

void add(Findings& out, Finding::Kind kind, std::string text) {
  out.push_back({kind, std::move(text)});
}

// The failure of the call just made on `path`.
Status failure(const std::string& what, const Text& path) {
  const DWORD error = GetLastError();  // before to_ansi() sets another
  return Status::failure(what + " " + to_ansi(path), to_ansi(path),
                         static_cast<int>(error));
}

// The attributes of `path`, or INVALID_FILE_ATTRIBUTES.
DWORD attributes_of(const Text& path) {
  return GetFileAttributesW(wide(path).c_str());
}

}  // namespace

std::vector<Finding> check_site_files(const SiteFiles& files) {
  const Text& public_path = files.public_path;
  Findings out;
  const Text dir = public_path.units().empty() ? Text(u".") : public_path;
  const std::string shown = to_ansi(dir);
  DWORD a = attributes_of(dir);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
    add(out, Finding::kProblem, failure("cannot open", dir).message());
    return out;
  }
  add(out, Finding::kOk, shown + " exists");

  const Text& client = files.client;
  a = attributes_of(client);
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) {
    add(out, Finding::kProblem, failure("cannot copy", client).message());
  } else {
    add(out, Finding::kOk, to_ansi(client) + " is there");
  }

  const Text& ini = files.result_file;
  a = attributes_of(ini);
  if (a == INVALID_FILE_ATTRIBUTES) {
    add(out, Finding::kOk,
        to_ansi(ini) + " is not there yet; the first request makes it");
  } else if (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
    add(out, Finding::kProblem,
        "cannot write " + to_ansi(ini) +
            ": it is read-only or not a file (attrib -r)");
  } else {
    add(out, Finding::kOk,
        to_ansi(ini) + ", section return: " + files.result_keys());
  }

  const Text& logs = files.log_directory;
  a = attributes_of(logs);
  if (a == INVALID_FILE_ATTRIBUTES) {
    add(out, Finding::kOk,
        to_ansi(logs) + " is not there yet; the first request makes it");
  } else if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    add(out, Finding::kProblem,
        "cannot write the log: " + to_ansi(logs) + " is not a directory");
  } else {
    add(out, Finding::kOk, to_ansi(logs) + " is a directory");
  }
  add(out, Finding::kOk, "code page " + std::to_string(GetACP()));
  add(out, Finding::kOk, "dialog MessageBoxW");
  return out;
}

}  // namespace runtime
