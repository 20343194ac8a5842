#include "platform/posix/program_image.h"

#include <elf.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace runtime {
namespace {

// How deep interpreters may name interpreters, as the kernel allows.
constexpr int kMaxInterpreters = 4;
// The longest "#!" line the kernel reads, and the most of an ELF file's
// program headers and dynamic section looked at.
constexpr std::size_t kMaxScriptLine = 256;
constexpr std::size_t kMaxElfPart = 1 << 20;

Status refused(const std::string& what, const std::string& why) {
  return Status::failure(what + ": " + why, 0);
}

// `size` bytes at `offset` of `fd`; false when the file is shorter.
bool read_at(int fd, off_t offset, std::size_t size, std::string& out) {
  out.resize(size);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out.data() + done, size - done,
                        offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The first `limit` bytes of `fd`, or all of a shorter file; false with
// errno set when it cannot be read.
bool read_prefix(int fd, std::size_t limit, std::string& out) {
  out.resize(limit);
  std::size_t done = 0;
  while (done < limit) {
    ssize_t n =
        ::pread(fd, out.data() + done, limit - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return true;
}

// The ELF machine and class this program was built for: what this system
// runs without asking the kernel for another ABI.
constexpr std::uint16_t kOwnMachine =
#if defined(__x86_64__)
    EM_X86_64;
#elif defined(__i386__)
    EM_386;
#elif defined(__aarch64__)
    EM_AARCH64;
#elif defined(__arm__)
    EM_ARM;
#elif defined(__riscv)
    EM_RISCV;
#else
    EM_NONE;  // not judged
#endif
constexpr unsigned char kOwnClass =
    sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

// True when this system runs ELF files of `machine` and `elf_class`: its
// own, and 32-bit x86 on a 64-bit x86 system, whose kernels run them.
bool runs_here(std::uint16_t machine, unsigned char elf_class) {
  if (kOwnMachine == EM_NONE) return true;
  if (machine == kOwnMachine && elf_class == kOwnClass) return true;
  return kOwnMachine == EM_X86_64 && machine == EM_386 &&
         elf_class == ELFCLASS32;
}

Status judge_image(const std::string& what, int fd, const struct stat& st,
                   const std::string& path, const Location& runs_in, int depth);

// The loader that started this very program, as its PT_INTERP names it; ""
// for a static program. Whoever could replace that file runs as this user
// already, so a client that names the same one is judged by that.
std::string_view own_loader() {
  const auto* ph = reinterpret_cast<const ElfW(Phdr)*>(::getauxval(AT_PHDR));
  const auto count = static_cast<std::size_t>(::getauxval(AT_PHNUM));
  // Where the program was loaded, from where its own headers lie.
  const ElfW(Phdr)* self = nullptr;
  for (std::size_t i = 0; ph != nullptr && i < count; ++i) {
    if (ph[i].p_type == PT_PHDR) self = &ph[i];
  }
  if (self == nullptr) return {};
  const std::uintptr_t base =
      reinterpret_cast<std::uintptr_t>(ph) - self->p_vaddr;
  const char* interp = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    if (ph[i].p_type == PT_INTERP) {
      interp = reinterpret_cast<const char*>(base + ph[i].p_vaddr);
    }
  }
  return interp == nullptr ? std::string_view() : std::string_view(interp);
}

// The loader or interpreter `program`, which `path` names as `role`.
Status judge_named(const std::string& what, const std::string& path,
                   const std::string& role, const std::string& program,
                   const Location& runs_in, int depth) {
  const std::string in =
      what + ": " + path + " names the " + role + " " + program;
  if (depth >= kMaxInterpreters) return Status::failure(in, ELOOP);
  UniqueFd fd;
  struct stat st;
  Status opened = open_named_program(in, program, fd, st);
  if (!opened.ok()) return opened;
  return judge_image(what, fd.get(), st, program, runs_in, depth + 1);
}

// The library directories of the search path `paths` (DT_RUNPATH or
// DT_RPATH of `path`), "$ORIGIN" being `runs_in`.
Status judge_search_path(const std::string& what, const std::string& path,
                         std::string_view paths, const Location& runs_in) {
  while (true) {
    const std::size_t colon = paths.find(':');
    const std::string dir(paths.substr(0, colon));
    const std::string in = what + ": " + path + " looks for libraries in " +
                           (dir.empty() ? "the current directory" : dir);
    if (dir.find('$') != std::string::npos) {
      // $ORIGIN, $LIB and $PLATFORM: the directory it runs from is the one
      // that can be judged; the others name system directories, but a
      // path made of them is not one this program can follow.
      if (!dir.starts_with("$ORIGIN") && !dir.starts_with("${ORIGIN}")) {
        return refused(in, "a search path with substitutions is not judged");
      }
      const Say say = name_makers(runs_in.dir_st, runs_in.dir_path);
      if (say) {
        return refused(
            in, say.reason + ": a library placed there would run; " + say.mend);
      }
      if (!runs_in.place.who.empty()) {
        return refused(in, runs_in.place.reason + "; " + runs_in.place.mend);
      }
      // A directory below or beside it, such as "$ORIGIN/lib", is judged
      // on its whole way as any other.
      const std::string rest = dir.substr(
          dir.find('}') == std::string::npos ? 7 : dir.find('}') + 1);
      // A public directory named from the working directory is judged
      // from "/" all the same.
      std::string from = runs_in.dir_path;
      if (!rest.empty() && !from.starts_with('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
          return Status::failure(in, errno);
        }
        from = std::string(cwd) + "/" + from;
      }
      if (!rest.empty()) {
        Status judged = judge_search_directory(in, from + rest);
        if (!judged.ok()) return judged;
      }
    } else if (!dir.starts_with('/')) {
      return refused(in,
                     "a relative library directory is found from "
                     "wherever the host runs; link it without one");
    } else if (Status judged = judge_search_directory(in, dir); !judged.ok()) {
      return judged;
    }
    if (colon == std::string_view::npos) return Status();
    paths.remove_prefix(colon + 1);
  }
}

// The ELF file `fd` of the header `head`, of the types of its class.
template <class Ehdr, class Phdr, class Dyn>
Status judge_elf(const std::string& what, int fd, const std::string& path,
                 const std::string& head, const Location& runs_in, int depth) {
  Ehdr eh;
  std::memcpy(&eh, head.data(), sizeof eh);
  if (eh.e_type != ET_EXEC && eh.e_type != ET_DYN) {
    return refused(what, path + " is an ELF file but not a program");
  }
  if (eh.e_phentsize != sizeof(Phdr) ||
      static_cast<std::size_t>(eh.e_phnum) * sizeof(Phdr) > kMaxElfPart) {
    return refused(what, path + " has damaged ELF program headers");
  }
  std::string table;
  if (!read_at(fd, static_cast<off_t>(eh.e_phoff), eh.e_phnum * sizeof(Phdr),
               table)) {
    return refused(what, path + " is cut short");
  }
  std::vector<Phdr> ph(eh.e_phnum);
  if (!table.empty()) std::memcpy(ph.data(), table.data(), table.size());
  // A virtual address of a loaded segment as a file offset; false outside.
  auto file_offset = [&](std::uint64_t addr, std::uint64_t& offset) {
    for (const Phdr& p : ph) {
      if (p.p_type == PT_LOAD && addr >= p.p_vaddr &&
          addr < p.p_vaddr + p.p_filesz) {
        offset = addr - p.p_vaddr + p.p_offset;
        return true;
      }
    }
    return false;
  };
  for (const Phdr& p : ph) {
    if (p.p_type == PT_INTERP) {
      std::string loader;
      if (p.p_filesz == 0 || p.p_filesz > PATH_MAX ||
          !read_at(fd, static_cast<off_t>(p.p_offset), p.p_filesz, loader)) {
        return refused(what, path + " names a damaged loader");
      }
      loader.resize(std::strlen(loader.c_str()));
      if (loader == own_loader()) continue;
      Status judged = judge_named(what, path, "loader", loader, runs_in, depth);
      if (!judged.ok()) return judged;
    }
    if (p.p_type != PT_DYNAMIC) continue;
    std::string dynamic;
    if (p.p_filesz > kMaxElfPart ||
        !read_at(fd, static_cast<off_t>(p.p_offset), p.p_filesz, dynamic)) {
      return refused(what, path + " has a damaged dynamic section");
    }
    std::vector<Dyn> dyn(dynamic.size() / sizeof(Dyn));
    if (!dyn.empty()) {
      std::memcpy(dyn.data(), dynamic.data(), dyn.size() * sizeof(Dyn));
    }
    std::uint64_t strtab = 0, strsz = 0;
    std::vector<std::uint64_t> searches;
    for (const Dyn& d : dyn) {
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag == DT_STRTAB) strtab = d.d_un.d_ptr;
      if (d.d_tag == DT_STRSZ) strsz = d.d_un.d_val;
      if (d.d_tag == DT_RUNPATH || d.d_tag == DT_RPATH) {
        searches.push_back(d.d_un.d_val);
      }
    }
    std::uint64_t table_at = 0;
    if (!searches.empty() &&
        (!file_offset(strtab, table_at) || strsz > kMaxElfPart)) {
      return refused(what, path + " has a damaged dynamic section");
    }
    std::string strings;
    if (!searches.empty() &&
        !read_at(fd, static_cast<off_t>(table_at), strsz, strings)) {
      return refused(what, path + " is cut short");
    }
    for (std::uint64_t at : searches) {
      if (at >= strings.size()) {
        return refused(what, path + " has a damaged dynamic section");
      }
      Status judged = judge_search_path(
          what, path, std::string_view(strings.c_str() + at), runs_in);
      if (!judged.ok()) return judged;
    }
  }
  return Status();
}

Status judge_image(const std::string& what, int fd, const struct stat& st,
                   const std::string& path, const Location& runs_in,
                   int depth) {
  // The copy keeps its owner's permission bits only.
  if ((st.st_mode & (depth == 0 ? S_IXUSR : 0111)) == 0) {
    return refused(what,
                   path + " is not executable by its owner: chmod u+x " + path);
  }
  struct statvfs fs;
  if (::fstatvfs(fd, &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0) {
    return refused(what, path + " lies on a file system mounted noexec");
  }
  std::string head;
  if (!read_prefix(fd, kMaxScriptLine, head))
    return Status::failure(what, errno);
  if (head.starts_with("#!")) {
    // The interpreter is the first word of the line, as the kernel reads it.
    const std::string line = head.substr(2, head.find('\n') - 2);
    const std::size_t from = line.find_first_not_of(" \t");
    if (from == std::string::npos) {
      return refused(what, path + " names no interpreter after \"#!\"");
    }
    const std::string interpreter =
        line.substr(from, line.find_first_of(" \t", from) - from);
    return judge_named(what, path, "interpreter", interpreter, runs_in, depth);
  }
  if (!head.starts_with(ELFMAG) || head.size() < sizeof(Elf32_Ehdr)) {
    return refused(what, path +
                             " is neither an ELF program nor a script "
                             "starting with \"#!\"");
  }
  const auto elf_class = static_cast<unsigned char>(head[EI_CLASS]);
  const bool native_order =
      head[EI_DATA] ==
      (std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB);
  std::uint16_t machine;
  std::memcpy(&machine, head.data() + offsetof(Elf32_Ehdr, e_machine),
              sizeof machine);
  if (!native_order || !runs_here(machine, elf_class)) {
    return refused(what, path +
                             " is a program for another machine (ELF "
                             "machine " +
                             std::to_string(machine) + ")");
  }
  if (elf_class == ELFCLASS64 && head.size() >= sizeof(Elf64_Ehdr)) {
    return judge_elf<Elf64_Ehdr, Elf64_Phdr, Elf64_Dyn>(what, fd, path, head,
                                                        runs_in, depth);
  }
  return judge_elf<Elf32_Ehdr, Elf32_Phdr, Elf32_Dyn>(what, fd, path, head,
                                                      runs_in, depth);
}

}  // namespace

Status judge_program_image(const std::string& what, int fd,
                           const struct stat& st, const std::string& path,
                           const Location& runs_in) {
  return judge_image(what, fd, st, path, runs_in, 0);
}

}  // namespace runtime
