// The platform's part of the site check on POSIX systems: the request's own
// services (the reset's writer, the copy, the log's open) on a site that
// withholds every write, and the verdicts they return.
#include "runtime/site_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/fs_path.h"
#include "platform/posix/iconv_code_set.h"
#include "platform/posix/shared_dir.h"
#include "runtime/files.h"
#include "runtime/ini_file.h"
#include "runtime/ini_text.h"
#include "runtime/message_box.h"
#include "runtime/platform.h"
#include "runtime/program_copy.h"

namespace runtime {
namespace {

using Findings = std::vector<Finding>;

void add(Findings& out, Finding::Kind kind, std::string text) {
  out.push_back({kind, std::move(text)});
}

Status refused(const std::string& what, const std::string& why) {
  return Status::failure(what + ": " + why, 0);
}

std::string trusted_users() {
  return ::geteuid() == 0 ? "root" : user_name(::geteuid()) + " or root";
}

// The public directory: there, and writable by this user.
bool check_directory(const Site& site, Findings& out) {
  const Site::Hold& h = site.hold();
  const std::string& dir = h.dir_path;
  if (!h.refusal.empty() || !h.fd.valid()) {
    add(out, Finding::kProblem,
        (h.refusal.empty() ? Status::failure("cannot open " + dir, h.error)
                           : refused("cannot open " + dir, h.refusal))
            .message());
    return false;
  }
  if (::faccessat(h.fd.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
    add(out, Finding::kProblem,
        Status::failure("this user may not write " + dir, errno).message());
    return false;
  }
  add(out, Finding::kOk, dir + " exists and this user may write it");
  // A request goes on with a warning; the site is not as it should be.
  const std::optional<std::string> others = replaceable_by_others(site);
  if (others && !h.place) {
    // Others may only add names: a problem where one of them blocks the
    // request, which the files' own findings name.
    add(out, Finding::kWarning, *others);
  } else if (!others) {
    add(out, Finding::kOk,
        "nobody but " + trusted_users() + " may replace " + dir +
            ", the directories above it or the files in it");
  } else {
    add(out, Finding::kProblem, *others);
  }
  return true;
}

// mart.dll as the request's copy judges it (who may change it, what the
// kernel loads with it), and what is at mart.exe and the staging names as
// the copy would find them.
void check_client(Site& site, const SiteFiles& files, Findings& out) {
  CopyOutcome outcome;
  Status copy = copy_file(site, files.client, files.client_copy, outcome);
  if (!copy.ok()) return add(out, Finding::kProblem, copy.message());
  add(out, Finding::kOk,
      fs_path(site.path_of(files.client)) + " is a program that only " +
          trusted_users() + " may change");
}

void check_result_file(Site& site, const SiteFiles& files, Findings& out) {
  const std::string path = fs_path(site.path_of(files.result_file));
  // The reset of a request, through the request's own writer, which the
  // site stops where it would write.
  for (const IniEdit& e : files.reset) {
    static_cast<void>(  // refused again, with the reason, by the flush
        set_profile_string(site, files.result_file, e.section, e.key, e.value));
  }
  if (Status would = flush_profile_strings(site); !would.ok()) {
    return add(out, Finding::kProblem, would.message());
  }
  UniqueFd fd;
  struct stat st;
  if (!open_regular(site, "", files.result_file, O_RDONLY, fd).ok() ||
      ::fstat(fd.get(), &st) != 0) {
    return add(out, Finding::kOk,
               path + " is not there yet; the first request makes it");
  }
  add(out, Finding::kOk,
      path + " (" + std::to_string(st.st_size) +
          " bytes), section return: " + files.result_keys());
  if (auto writers = writable_by_others(site, files.result_file)) {
    add(out, Finding::kWarning, *writers);
  }
  if (st.st_nlink > 1) {
    add(out, Finding::kWarning,
        path + " has " + std::to_string(st.st_nlink) +
            " names, so it is rewritten in place, which a power loss can " +
            "tear (cp it and mv the copy over it)");
  }
}

// The log as the request's log object opens it: its directory made when
// missing, the day's file opened to append; a fault loses the record, but
// the request goes on.
void check_log_directory(Site& site, const SiteFiles& files, Findings& out) {
  const std::string log = fs_path(site.path_of(files.log_file));
  const bool made = !directory_exists(site, files.log_directory);
  int file = -1;
  // A directory that cannot be made shows, as in the request, as the file
  // that cannot be opened.
  Status opened = made ? create_directory(site, files.log_directory) : Status();
  if (!made || !opened.ok()) {
    opened = file_open(site, files.log_file, OpenMode::kAppend, file);
  }
  if (!opened.ok()) {
    return add(out, Finding::kWarning,
               "the request would not be logged: " + opened.message());
  }
  const bool there = !made && file_exists(site, files.log_file);
  add(out, Finding::kOk,
      log + (there ? " takes the record"
                   : " is not there yet; the request makes it"));
  if (auto writers = writable_by_others(site, files.log_file)) {
    add(out, Finding::kWarning, *writers);
  }
}

void check_environment(const Status& locale, Findings& out) {
  if (locale.ok()) {
    add(out, Finding::kOk, "code set " + CodeSet::current().name());
  } else {
    add(out, Finding::kWarning, locale.message());
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool session = (display && *display) || (wayland && *wayland);
  std::string tool = dialog_tool();
  if (!session) {
    add(out, Finding::kOk, "no display: the message goes to stderr only");
  } else if (tool.empty()) {
    add(out, Finding::kWarning,
        "no zenity, kdialog or xmessage in an absolute PATH entry: the "
        "message goes to stderr only");
  } else {
    add(out, Finding::kOk, "dialog " + tool);
  }
  struct stat st;
  if (::stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode)) {
    add(out, Finding::kOk, "system log socket /dev/log");
  } else {
    add(out, Finding::kWarning,
        "no system log socket /dev/log: the audit lines are dropped");
  }
}

}  // namespace

std::vector<Finding> check_site_files(Site& site, const SiteFiles& files) {
  Findings out;
  const Status locale = init_locale();
  if (check_directory(site, out)) {
    check_client(site, files, out);
    check_result_file(site, files, out);
    check_log_directory(site, files, out);
  }
  check_environment(locale, out);
  return out;
}

}  // namespace runtime
