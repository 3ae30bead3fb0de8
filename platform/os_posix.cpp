// The POSIX (Linux) implementation of platform/os.h.
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace platform {
namespace {

std::vector<std::string>& StoredArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw OsError(what + " '" + path + "': " + std::strerror(error));
}

[[noreturn]] void FailWith(const std::string& message) { throw OsError(message); }

// Closes `fd` and keeps errno as it was (for cleanup on an error path).
void CloseQuietly(int fd) {
  const int saved = errno;
  if (fd >= 0) ::close(fd);
  errno = saved;
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Writes all of `bytes` to `fd`; returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress; never loop forever
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

// Reads `fd` from `offset` (or from its current position when offset < 0) to its end.
int ReadToEnd(int fd, std::string* out, off_t offset) {
  // Reading straight into a string sized from the file's length avoids growing it chunk by
  // chunk, which copies a large table many times; the loop still copes with a file that grows
  // or shrinks meanwhile.
  struct stat info;
  std::size_t size = 0;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    size = static_cast<std::size_t>(info.st_size);
  }
  const std::size_t initial = std::max<std::size_t>(size + 1, 65536);
  out->reserve(initial);
  AdviseLargeBuffer(out->data(), initial);
  out->resize(initial);
  std::size_t filled = 0;
  for (;;) {
    if (filled == out->size()) out->resize(out->size() * 2);
    const std::size_t room = out->size() - filled;
    const ssize_t n = offset >= 0 ? ::pread(fd, out->data() + filled, room, offset)
                                  : ::read(fd, out->data() + filled, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      out->clear();
      return errno;
    }
    if (n == 0) {
      out->resize(filled);
      return 0;
    }
    filled += static_cast<std::size_t>(n);
    if (offset >= 0) offset += n;
  }
}

int FlockRetrying(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result < 0 && errno == EINTR);
  return result;
}

// True when no one (owner, group, others) has the write permission bit: such a file is treated
// as read-only even for a process that could write it anyway (root).
bool HasNoWriteBits(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// A symbolic link is replaced by replacing the file it points to, not the link itself.
std::string ResolveForReplace(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved = real;
      std::free(real);
      return resolved;
    }
  }
  return path;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string TempPatternFor(const std::string& path) { return path + ".tmpXXXXXX"; }

// Creates a temporary file from `*pattern` (rewritten to the actual name). Returns the
// descriptor or -1 with errno set.
int MakeTemp(std::string* pattern) {
  std::vector<char> name(pattern->begin(), pattern->end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return -1;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  *pattern = name.data();
  return fd;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Flushes the directory entry of a rename to disk. A failure here is not worth an error:
// the rename itself has happened.
void SyncDirectory(const std::string& directory) {
  const int fd = OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// How long ReplaceFileWithCopy waits for another program's lock on its target: 20 x 50 ms.
constexpr int kLockAttempts = 20;
constexpr useconds_t kLockPauseMicroseconds = 50000;

// Fills the temporary file `fd` with `pieces`, flushes it to disk and gives it `mode` and, where
// the process may, the owner in `owner`. Returns 0 or an errno, with `*step` naming the step
// that failed.
int FillTemp(int fd, const std::vector<std::string_view>& pieces, mode_t mode,
             const struct stat* owner, const char** step) {
  for (const std::string_view piece : pieces) {
    if (const int error = WriteAll(fd, piece)) {
      *step = "cannot write";
      return error;
    }
  }
  if (::fsync(fd) != 0) {
    *step = "cannot write";
    return errno;
  }
  if (owner != nullptr) {
    // Keeps the owner when the process may (root); an ordinary user's file stays theirs anyway.
    if (::fchown(fd, owner->st_uid, owner->st_gid) != 0) { /* not allowed: keep ours */
    }
  }
  if (::fchmod(fd, mode) != 0) {
    *step = "cannot set the permissions of";
    return errno;
  }
  return 0;
}

// Writes `pieces` into a new temporary file beside `target` and renames it over `target`, so
// that `target` is always either its old content or the complete new one. `existing` (the
// target's stat, or null for a new file) gives the mode and owner to keep. On failure the
// temporary file is removed and OsError names `shown`.
void WriteBesideAndRename(const std::string& target, const std::string& shown,
                          const std::vector<std::string_view>& pieces,
                          const struct stat* existing) {
  std::string temp = TempPatternFor(target);
  const int fd = MakeTemp(&temp);
  if (fd < 0) Fail("cannot create a temporary file beside", shown, errno);
  const mode_t mode = existing != nullptr ? (existing->st_mode & 07777) : (0666 & ~CurrentUmask());
  const char* step = "cannot write";
  int error = FillTemp(fd, pieces, mode, existing, &step);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
    step = "cannot replace";
    error = errno;
  }
  if (error != 0) {
    ::unlink(temp.c_str());
    Fail(step, shown, error);
  }
  SyncDirectory(DirectoryOf(target));
}

// A target that may not be written is left alone: one the process may not write, or one
// without any write permission bit (read-only even for root). Raises OsError naming `shown`.
void RequireReplaceable(const std::string& target, const std::string& shown,
                        const struct stat& info, const std::string& verb) {
  if (S_ISDIR(info.st_mode)) Fail(verb, shown, EISDIR);
  if (!S_ISREG(info.st_mode)) FailWith(verb + " '" + shown + "': it is not a regular file");
  if (::access(target.c_str(), W_OK) != 0) Fail(verb, shown, errno);
  if (HasNoWriteBits(info.st_mode)) FailWith(verb + " '" + shown + "': the file is read-only");
}

}  // namespace

void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon) {
  std::fwrite(caption.data(), 1, caption.size(), stderr);
  std::fputc('\n', stderr);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void WriteStandardOutputText(const std::string& text) {
  // POSIX streams do not translate line ends, so do what a text-mode stream does elsewhere.
  std::string translated;
  translated.reserve(text.size() + 4);
  for (char c : text) {
    if (c == '\n') translated.push_back('\r');
    translated.push_back(c);
  }
  std::fwrite(translated.data(), 1, translated.size(), stdout);
  std::fflush(stdout);
}

void WriteErrorLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void Beep() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

void RaisePriority() {
  // Only root may lower the nice value; otherwise this fails, which is fine.
  if (::setpriority(PRIO_PROCESS, 0, -10) != 0) { /* ignored: only a hint */
  }
}

void InitCommandLine(int argc, char** argv) {
  std::vector<std::string>& arguments = StoredArguments();
  arguments.clear();
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    arguments.emplace_back(argv[i]);
  }
}

std::string RawCommandLine() {
  const std::vector<std::string>& arguments = StoredArguments();
  std::string line;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (i > 0) line += ' ';
    if (argument.empty() || argument.find_first_of(" \t") != std::string::npos) {
      line += '"' + argument + '"';
    } else {
      line += argument;
    }
  }
  return line;
}

std::vector<std::string> Arguments() { return StoredArguments(); }

std::string ExecutableDirectory() {
  std::string path;
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) break;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      path.assign(buffer.data(), static_cast<std::size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);  // truncated: try a larger buffer
  }
  if (path.empty()) {
    // No /proc: resolve argument 0 as the shell did (a name without '/' came from PATH).
    const std::vector<std::string>& arguments = StoredArguments();
    if (arguments.empty() || arguments[0].empty()) {
      FailWith("cannot tell the directory of the program: its path is unknown");
    }
    std::string candidate = arguments[0];
    if (candidate.find('/') == std::string::npos) {
      const char* search = std::getenv("PATH");
      std::string directories = search ? search : "";
      std::size_t start = 0;
      candidate.clear();
      while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::string directory = directories.substr(start, end - start);
        if (directory.empty()) directory = ".";
        const std::string full = directory + "/" + arguments[0];
        if (::access(full.c_str(), X_OK) == 0) {
          candidate = full;
          break;
        }
        start = end + 1;
      }
      if (candidate.empty()) {
        FailWith("cannot tell the directory of the program: '" + arguments[0] +
                 "' is not found in PATH");
      }
    }
    char* real = ::realpath(candidate.c_str(), nullptr);
    if (real == nullptr) Fail("cannot tell the directory of the program", candidate, errno);
    path = real;
    std::free(real);
  }
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    FailWith("cannot tell the directory of the program: '" + path + "' is not absolute");
  }
  return path.substr(0, slash + 1);
}

char PathSeparator() { return '/'; }

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  WriteWholeFile(path, std::vector<std::string_view>{bytes});
}

void WriteWholeFile(const std::string& path, const std::vector<std::string_view>& pieces) {
  const std::string target = ResolveForReplace(path);
  struct stat info;
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) Fail("cannot write", path, errno);
  if (exists) RequireReplaceable(target, path, info, "cannot write");
  WriteBesideAndRename(target, path, pieces, exists ? &info : nullptr);
}

std::string ReadWholeFile(const std::string& path) {
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open", path, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    CloseQuietly(fd);
    Fail("cannot read", path, error);
  }
  if (S_ISDIR(st.st_mode)) {
    CloseQuietly(fd);
    Fail("cannot read", path, EISDIR);
  }
  std::string content;
  if (S_ISREG(st.st_mode) && st.st_size > 0) content.reserve(static_cast<std::size_t>(st.st_size));
  if (const int error = ReadToEnd(fd, &content, -1)) {
    CloseQuietly(fd);
    Fail("cannot read", path, error);
  }
  ::close(fd);  // read-only: nothing can be lost here
  return content;
}

void ReplaceFileWithCopy(const std::string& source, const std::string& given_target) {
  const std::string target = ResolveForReplace(given_target);
  struct stat target_stat;
  const bool target_exists = ::stat(target.c_str(), &target_stat) == 0;
  if (!target_exists && errno != ENOENT) Fail("cannot replace", given_target, errno);
  if (target_exists) RequireReplaceable(target, given_target, target_stat, "cannot replace");

  // A program that holds the target open under a lock (a reader of the old report, another
  // run of the tool) keeps it: the target is replaced only while no one else locks it, and
  // the lock taken here is held until the new file has taken its place. A lock held only for
  // a moment (another run reading the same report before it gives up) is waited out briefly.
  int held = -1;
  if (target_exists) {
    held = OpenRetrying(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (held < 0) Fail("cannot replace", given_target, errno);
    for (int attempt = 1;; ++attempt) {
      if (FlockRetrying(held, LOCK_EX | LOCK_NB) == 0) break;
      const int error = errno;
      if (error == EWOULDBLOCK && attempt < kLockAttempts) {
        ::usleep(kLockPauseMicroseconds);
        continue;
      }
      CloseQuietly(held);
      if (error == EWOULDBLOCK) FailWith("'" + given_target + "' is in use by another program");
      Fail("cannot lock", given_target, error);
    }
  }

  try {
    const std::string content = ReadWholeFile(source);
    WriteBesideAndRename(target, given_target, {content}, target_exists ? &target_stat : nullptr);
  } catch (...) {
    CloseQuietly(held);
    throw;
  }
  CloseQuietly(held);
}

void AdviseLargeBuffer(void* data, std::size_t size) {
  // A table of a hundred megabytes otherwise costs some 25,000 page faults, which take longer
  // than reading the file; a kernel without transparent huge pages ignores the advice.
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kWorthIt = std::size_t{4} << 20;
  if (data == nullptr || size < kWorthIt) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kPage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

LocalTime Now() {
  const std::time_t now = std::time(nullptr);
  struct tm parts {};
  ::localtime_r(&now, &parts);
  LocalTime local;
  local.year = parts.tm_year + 1900;
  local.month = parts.tm_mon + 1;
  local.day = parts.tm_mday;
  local.hour = parts.tm_hour;
  local.minute = parts.tm_min;
  local.second = parts.tm_sec;
  return local;
}

LockedFile::LockedFile(const std::string& path, Sharing sharing) : path_(path), sharing_(sharing) {
  const int operation = (sharing == Sharing::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  // The loop catches a replacement of the file between our open and our lock (another
  // LockedFile's ReplaceContents): the lock must be on the file that the path names.
  for (int attempt = 0;; ++attempt) {
    read_only_ = sharing == Sharing::kReading;
    int fd = OpenRetrying(path.c_str(), (read_only_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0 && !read_only_ && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
      read_only_ = true;
    }
    if (fd < 0) Fail("cannot open", path, errno);

    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int error = errno;
      CloseQuietly(fd);
      Fail("cannot open", path, error);
    }
    if (S_ISDIR(st.st_mode)) {
      CloseQuietly(fd);
      Fail("cannot open", path, EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
      CloseQuietly(fd);
      FailWith("cannot open '" + path + "': it is not a regular file");
    }
    if (HasNoWriteBits(st.st_mode)) read_only_ = true;

    if (FlockRetrying(fd, operation) != 0) {
      const int error = errno;
      CloseQuietly(fd);
      if (error == EWOULDBLOCK) FailWith("'" + path + "' is in use by another program");
      Fail("cannot lock", path, error);
    }

    struct stat now;
    if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      handle_ = fd;
      return;
    }
    CloseQuietly(fd);
    if (attempt >= 10) FailWith("'" + path + "' is in use by another program");
  }
}

LockedFile::~LockedFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing releases the lock
}

std::string LockedFile::ReadAll() {
  std::string content;
  if (const int error = ReadToEnd(static_cast<int>(handle_), &content, 0)) {
    Fail("cannot read", path_, error);
  }
  return content;
}

void LockedFile::ReplaceContents(const std::string& bytes) {
  ReplaceContents(std::vector<std::string_view>{bytes});
}

void LockedFile::ReplaceContents(const std::vector<std::string_view>& pieces) {
  if (read_only_) FailWith("cannot replace '" + path_ + "': the file is read-only");
  const int old_fd = static_cast<int>(handle_);
  struct stat old_stat;
  if (::fstat(old_fd, &old_stat) != 0) Fail("cannot replace", path_, errno);

  const std::string target = ResolveForReplace(path_);
  std::string temp = TempPatternFor(target);
  const int fd = MakeTemp(&temp);
  if (fd < 0) Fail("cannot create a temporary file beside", path_, errno);

  const int operation = (sharing_ == Sharing::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  const char* step = "cannot lock a temporary file beside";
  int error = FlockRetrying(fd, operation) == 0 ? 0 : errno;
  if (error == 0) error = FillTemp(fd, pieces, old_stat.st_mode & 07777, &old_stat, &step);
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
    step = "cannot replace";
    error = errno;
  }
  if (error != 0) {
    CloseQuietly(fd);
    ::unlink(temp.c_str());
    Fail(step, path_, error);
  }
  // The new file holds the lock already; the old one (now unnamed) is let go.
  ::close(old_fd);
  handle_ = fd;
  SyncDirectory(DirectoryOf(target));
}

}  // namespace platform
