// The platform's part of the site check on POSIX systems, through the very
// functions a request opens its files with (platform/posix/shared_dir.h),
// for reading only.
#include "runtime/site_check.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/posix/fd_io.h"
#include "platform/posix/fs_path.h"
#include "platform/posix/iconv_code_set.h"
#include "platform/posix/ini_turn.h"
#include "platform/posix/program_copy.h"
#include "platform/posix/program_image.h"
#include "platform/posix/shared_dir.h"
#include "runtime/files.h"
#include "runtime/ini_file.h"
#include "runtime/ini_text.h"
#include "runtime/message_box.h"
#include "runtime/platform.h"

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

void check_client(const Site& site, const SiteFiles& files, Findings& out) {
  const std::string path = fs_path(site.path_of(files.client));
  const std::string exe = fs_path(site.path_of(files.client_copy));
  const std::string what = "cannot copy " + path + " to " + exe;
  Location at;
  UniqueFd fd;
  struct stat st;
  Status opened = open_program(site, what, files.client, at, fd, st);
  if (!opened.ok()) return add(out, Finding::kProblem, opened.message());
  // What the kernel loads with it, judged as the request's copy does.
  Location runs_in;
  Status judged = locate(site, what, files.client_copy, runs_in);
  if (judged.ok()) {
    judged = judge_program_image("cannot copy " + path + " to " + exe, fd.get(),
                                 path, runs_in);
  }
  if (!judged.ok()) return add(out, Finding::kProblem, judged.message());
  add(out, Finding::kOk,
      path + " is a program that only " + trusted_users() + " may change");
  // What is at mart.exe, and the staging names, as the copy would find them.
  if (auto blocker = copy_blocker(site, what, files.client_copy)) {
    add(out, Finding::kProblem, *blocker);
  }
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

void check_log_directory(const Site& site, const SiteFiles& files,
                         Findings& out) {
  const std::string log = fs_path(site.path_of(files.log_file));
  // The day's log as the request opens it, without creating it; a fault
  // loses the record, but the request goes on.
  UniqueFd fd;
  Judgement judged;
  Status opened = open_regular(site, "cannot open " + log, files.log_file,
                               O_WRONLY | O_APPEND, fd, &judged);
  if (opened.ok()) {
    add(out, Finding::kOk, log + " takes the record");
    if (const std::string writers = writers_warning(judged, log);
        !writers.empty()) {
      add(out, Finding::kWarning, writers);
    }
  } else if (opened.error() == ENOENT &&
             (directory_exists(site, files.log_directory) ||
              ::faccessat(site.hold().fd.get(), ".", W_OK | X_OK, AT_EACCESS) ==
                  0)) {
    add(out, Finding::kOk, log + " is not there yet; the request makes it");
  } else {
    add(out, Finding::kWarning,
        "the request would not be logged: " + opened.message());
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
