#include "platform/posix/posix_system.h"

#include <dlfcn.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <memory>

#include "platform/decimal_text.h"
#include "platform/path.h"

namespace korvik {
namespace {

// Returns the position after the number of a date at `position` in
// `format`: a day, month or year conversion with any of glibc's flags,
// width and modifiers. Returns npos where none starts there.
std::size_t SkipDateNumber(std::string_view format, std::size_t position) {
  constexpr std::string_view kFlags = "_-0^#";
  constexpr std::string_view kDigits = "0123456789";
  constexpr std::string_view kModifiers = "EO";
  constexpr std::string_view kNumbers = "demyY";
  if (position >= format.size() || format[position] != '%') {
    return std::string_view::npos;
  }
  position = format.find_first_not_of(kFlags, position + 1);
  position = format.find_first_not_of(kDigits, position);
  if (position < format.size() &&
      kModifiers.find(format[position]) != std::string_view::npos) {
    ++position;
  }
  if (position >= format.size() ||
      kNumbers.find(format[position]) == std::string_view::npos) {
    return std::string_view::npos;
  }
  return position + 1;
}

// Determines whether `text` is exactly one character in the encoding of the
// LC_TIME settings, which need not be that of LC_CTYPE.
bool IsOneCharacter(std::string_view text) {
  if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80) {
    return true;
  }
  const locale_t dates =
      ::newlocale(LC_CTYPE_MASK, std::setlocale(LC_TIME, nullptr), nullptr);
  if (dates == nullptr) return false;
  const locale_t previous = ::uselocale(dates);
  std::mbstate_t state{};
  const std::size_t length = std::mbrlen(text.data(), text.size(), &state);
  ::uselocale(previous);
  ::freelocale(dates);
  return length == text.size();
}

// Returns the ordinary file `path` names, following links to it (as many
// as the kernel would), or "" where it names something else.
std::string OrdinaryFileAt(std::string path) {
  const PathSyntax paths = PathSyntax::Posix();
  for (int links = 0; links <= 40; ++links) {
    struct stat entry;
    if (::lstat(path.c_str(), &entry) != 0) return {};
    if (S_ISREG(entry.st_mode)) return path;
    if (!S_ISLNK(entry.st_mode)) return {};
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) {
      return {};
    }
    const std::string_view to(target, static_cast<std::size_t>(length));
    path = paths.IsAbsolute(to) ? std::string(to)
                                : paths.Join(paths.DirectoryOf(path), to);
  }
  return {};
}

// Returns the directory of the running program, or "." where the kernel
// does not name it. The absolute path the program was started by serves,
// through any links to the program: asking the kernel for the program's
// resolved path costs a small run more than a file's digest.
std::string FindProgramDirectory() {
  const auto* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (started != nullptr && started[0] == '/') {
    const std::string program = OrdinaryFileAt(started);
    if (!program.empty()) return PathSyntax::Posix().DirectoryOf(program);
  }
  // The kernel names the program by its resolved path: no link to follow.
  std::string self(256, '\0');
  for (;;) {
    const ssize_t length =
        ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0) return ".";
    if (static_cast<std::size_t>(length) < self.size()) {
      self.resize(static_cast<std::size_t>(length));
      return PathSyntax::Posix().DirectoryOf(self);
    }
    if (self.size() >= PATH_MAX) return ".";
    self.resize(self.size() * 2);
  }
}

}  // namespace

std::string DateSeparatorOf(std::string_view format) {
  std::size_t end = SkipDateNumber(format, 0);
  std::string_view separator;
  for (int gap = 0; gap < 2; ++gap) {
    if (end == std::string_view::npos) return "/";
    const std::size_t next = format.find('%', end);
    if (next == std::string_view::npos) return "/";
    const std::string_view between = format.substr(end, next - end);
    if (gap > 0 && between != separator) return "/";
    separator = between;
    end = SkipDateNumber(format, next);
  }
  if (end != format.size() || !IsOneCharacter(separator)) return "/";
  return std::string(separator);
}

PosixProcess::PosixProcess(int argc, char** argv)
    : program_directory_(FindProgramDirectory()) {
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_text_ += ' ';
    command_text_ += argv[i];
  }
}

std::string PosixProcess::CommandText() { return command_text_; }

std::string PosixProcess::ProgramDirectory() { return program_directory_; }

Expected<std::string> PosixProcess::CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0),
                                                  &std::free);
  if (!cwd) return Error::FromErrno(errno, "read", "current directory");
  return std::string(cwd.get());
}

Status PosixProcess::SetCurrentDirectory(const std::string& path) {
  if (::chdir(path.c_str()) != 0) {
    return Error::FromErrno(errno, "change to", path);
  }
  return Status::Ok();
}

std::string PosixProcess::TempDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
}

void PosixProcess::WriteError(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

std::tm PosixClock::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return local;
}

PosixLocale::PosixLocale() { std::setlocale(LC_TIME, ""); }

std::string PosixLocale::DateSeparator() {
  return DateSeparatorOf(::nl_langinfo(D_FMT));
}

std::string PosixLocale::FormatTime(const std::tm& time) {
  // Most locales write the time as hours, minutes and seconds of the
  // 24-hour clock, which needs none of strftime's code.
  const std::string_view format = ::nl_langinfo(T_FMT);
  if (format == "%H:%M:%S" || format == "%T") {
    std::string text;
    AppendZeroPadded(text, time.tm_hour, 2);
    text += ':';
    AppendZeroPadded(text, time.tm_min, 2);
    text += ':';
    AppendZeroPadded(text, time.tm_sec, 2);
    return text;
  }
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, "%X", &time);
  return std::string(text, length);
}

std::string PosixLocale::ToUpper(const std::string& text) {
  std::string upper;
  upper.reserve(text.size());
  std::mbstate_t state{};
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      upper += (byte >= 'a' && byte <= 'z') ? static_cast<char>(byte - 32)
                                            : static_cast<char>(byte);
      ++i;
      continue;
    }
    if (!ctype_loaded_) {
      std::setlocale(LC_CTYPE, "");
      ctype_loaded_ = true;
    }
    wchar_t wide;
    const std::size_t length =
        std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (length == 0 || length > text.size() - i) {  // not a character here
      upper += text[i++];
      state = std::mbstate_t{};
      continue;
    }
    char encoded[MB_LEN_MAX];
    std::mbstate_t out_state{};
    const std::size_t out_length = std::wcrtomb(
        encoded, static_cast<wchar_t>(std::towupper(wide)), &out_state);
    if (out_length == static_cast<std::size_t>(-1)) {
      upper.append(text, i, length);
    } else {
      upper.append(encoded, out_length);
    }
    i += length;
  }
  return upper;
}

std::string PosixDriveInfo::DriveName(const std::string&) { return ""; }

Expected<Drive> PosixDriveInfo::FindDrive(const std::string& drive_name) {
  return Error(ErrorKind::kNotFound, "no drive named '" + drive_name + "'");
}

Expected<void*> PosixLibraryLoader::LoadFunction(
    const std::string& library_path, const char* name) {
  // A path with a "/" is never searched for.
  void* handle = ::dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    return Error(ErrorKind::kOther,
                 std::string("cannot load the library: ") + ::dlerror());
  }
  void* function = ::dlsym(handle, name);
  if (function == nullptr) {
    return Error(ErrorKind::kNotFound, "the library '" + library_path +
                                           "' offers no function " + name);
  }
  return function;
}

Expected<std::string> PosixLibraryLoader::SingleByteName(
    const std::string& path) {
  return path;
}

Error PosixLibraryLoader::ErrorOfCode(int code, std::string_view action,
                                      std::string_view path) {
  return Error::FromErrno(code, action, path);
}

}  // namespace korvik
