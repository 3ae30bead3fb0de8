// The operating-system services the tool needs, behind one small interface.
// One source per operating system implements it (os_posix.cpp, os_windows.cpp); CMake picks one.
// Paths and texts are UTF-8 everywhere in the program; conversion happens inside the source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Raised for every operating-system failure. The message names the operation and the path
// and carries the system's own reason ("cannot open '/x/a.dbf': Permission denied").
class OsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class BoxIcon { kNone, kInformation, kError };

// Shows a modal message box with no owner window and a single OK button, and returns when the
// user closed it. Where the system has no message boxes (POSIX), writes the caption and the text
// to standard error instead, verbatim, each followed by a line feed. Never raises.
void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon);

// Writes `text` to standard output through a text-mode stream: every line feed arrives as a
// carriage return and a line feed. Never raises.
void WriteStandardOutputText(const std::string& text);

// Writes one line of diagnostics (UTF-8) to standard error. Never raises.
void WriteErrorLine(const std::string& text);

// Sounds the system's simple beep (POSIX: a BEL character on standard error). Never raises.
void Beep();

// Asks for the high-priority process class and the highest thread priority. Failures are
// ignored (the request is only a hint to the scheduler). Never raises.
void RaisePriority();

// Records the process arguments as main() received them (copied). Must be called once at
// start-up, before RawCommandLine() or Arguments(); until then both give empty results.
void InitCommandLine(int argc, char** argv);

// The whole raw command line of the process, program path included. On POSIX, where the
// kernel keeps no raw line, the arguments joined by single blanks; an argument holding a blank
// (space or tab) or being empty is enclosed in double quotes (nothing inside is escaped).
std::string RawCommandLine();

// The arguments, argument 0 being the program, split as the system splits them.
std::vector<std::string> Arguments();

// The directory of the running executable, always ending in the path separator.
// Raises OsError when the system cannot tell.
std::string ExecutableDirectory();

// The separator the system prefers in paths ('/' on POSIX, '\\' on Windows).
char PathSeparator();

// True when `path` names an existing file or directory.
bool FileExists(const std::string& path);

// Writes `bytes` to `path`, creating or replacing it: the bytes go to a temporary file beside
// `path`, are flushed to disk, and the file is renamed over `path`, so that a failed write (a
// full disk) leaves the old file, never a cut-off one. A read-only or non-regular `path` is
// refused. Raises OsError on any failure; the temporary file is then removed.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// The same for content given as pieces that follow each other, so that a large text kept in
// chunks need not be joined first.
void WriteWholeFile(const std::string& path, const std::vector<std::string_view>& pieces);

// Reads the whole file. Raises OsError when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

// Copies `source` over `target` so that `target` is always either its old content or the
// complete copy: the bytes go to a temporary file beside `target`, are flushed to disk, and
// the temporary file is then renamed over `target`. A read-only `target` is not replaced:
// one the process may not write, or one without any write permission bit (read-only even for
// an administrator/root). Nor is a `target` that another program (or another open in this
// process) holds under a lock ("'<target>' is in use by another program"; on POSIX the lock is
// flock(), advisory, as for LockedFile). A replaced `target` keeps its permissions; a `target`
// that is a symbolic link stays one, and the file it points to is replaced. Both paths may be
// relative.
// On failure the temporary file is removed, `target` is untouched, and OsError is raised.
void ReplaceFileWithCopy(const std::string& source, const std::string& target);

struct LocalTime {
  int year = 0;   // four digits
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
};

// Hints that the `size` bytes at `data`, not touched yet, are about to be used whole, so that the
// system may back them with large pages: a buffer of many megabytes then costs far fewer page
// faults and address-translation misses. Only a hint; does nothing where the system has none,
// or for small buffers. Never raises.
void AdviseLargeBuffer(void* data, std::size_t size);

// The current local date and time.
LocalTime Now();

// An open file held under an operating-system lock for as long as the object lives.
// Exclusive: no other open of the file (from this or another process) succeeds meanwhile.
// Shared: other shared opens succeed, exclusive ones fail.
// Reading: like shared, but the file is only read, so it opens even where another program
// keeps others from writing it (a report open in a spreadsheet); read_only() is true.
class LockedFile {
 public:
  enum class Sharing { kShared, kExclusive, kReading };

  // Opens `path` for reading and writing (only for reading with kReading); a file the process
  // may not write is opened read-only instead (read_only() tells). A file without any write
  // permission bit counts as read-only even when the process could write it anyway (root), like
  // ReplaceFileWithCopy's target. Raises OsError when the file is missing, is a directory or other
  // non-regular file, cannot be opened, or is held by someone else in a conflicting mode ("'<path>'
  // is in use by another program"). On POSIX the lock is flock(): it also conflicts with another
  // LockedFile of the same file in this process, and binds only programs that lock too (advisory).
  LockedFile(const std::string& path, Sharing sharing);
  ~LockedFile();  // releases the lock and closes the file; never raises
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  bool read_only() const { return read_only_; }
  const std::string& path() const { return path_; }

  // Reads the whole file from its start. Raises OsError.
  std::string ReadAll();

  // Replaces the whole content of the file with `bytes`, atomically: the file is either its
  // old content or the complete new one, whatever happens meanwhile, and the lock is held
  // throughout (on POSIX a new file is written beside, locked, and renamed over the path; the
  // file keeps its permissions). Raises OsError (read-only file, disk full, ...); the old
  // content then stays and the object remains usable.
  void ReplaceContents(const std::string& bytes);
  // The same for content given as pieces that follow each other (a header, then the records),
  // so that a large table need not be copied into one buffer first.
  void ReplaceContents(const std::vector<std::string_view>& pieces);

 private:
  std::string path_;
  Sharing sharing_;
  bool read_only_ = false;
  std::intptr_t handle_ = -1;  // file descriptor or HANDLE, owned by the platform source
};

}  // namespace platform
