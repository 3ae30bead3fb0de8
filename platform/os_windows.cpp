// The Windows implementation of platform/os.h, on the wide-character system calls.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace platform {
namespace {

// The largest piece handed to one ReadFile or WriteFile call (their sizes are 32-bit).
constexpr DWORD kMaxIoChunk = 1u << 30;

// How long a reopen after a replacement keeps trying while another program (a virus scanner,
// an indexer) briefly holds the new file: kReopenAttempts tries, kReopenPauseMs apart.
constexpr int kReopenAttempts = 40;
constexpr DWORD kReopenPauseMs = 25;

// Attributes a replaced file keeps. "Archive" is left to the system: new content is exactly
// what a backup program should see as changed.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct CommandLine {
  std::string raw;
  std::vector<std::string> arguments;
};

CommandLine& StoredCommandLine() {
  static CommandLine command_line;
  return command_line;
}

HANDLE ToHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

std::string Narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &narrow[0], size, nullptr,
                        nullptr);
  return narrow;
}

std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

// The system's own wording of `error`, without the trailing line end and full stop, so that it
// reads like the rest of a message ("Access is denied (error 5)").
std::string SystemReason(DWORD error) {
  wchar_t buffer[512];
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, buffer, static_cast<DWORD>(sizeof buffer / sizeof buffer[0]), nullptr);
  std::string reason = Narrow(buffer, length);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  if (reason.empty()) reason = "system error";
  return reason + " (error " + std::to_string(error) + ")";
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD error) {
  throw OsError(what + " '" + path + "': " + SystemReason(error));
}

[[noreturn]] void FailWith(const std::string& message) { throw OsError(message); }

bool IsSharingConflict(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

[[noreturn]] void FailInUse(const std::string& path) {
  FailWith("'" + path + "' is in use by another program");
}

// Closes `handle` and keeps the last error as it was (for cleanup on an error path).
void CloseQuietly(HANDLE handle) {
  const DWORD saved = ::GetLastError();
  if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  ::SetLastError(saved);
}

// Writes all of `bytes` to `handle`; returns 0 or the error of the failure.
DWORD WriteAll(HANDLE handle, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > kMaxIoChunk ? kMaxIoChunk : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;  // no progress; never loop forever
    data += written;
    left -= written;
  }
  return 0;
}

// Reads `handle` from its current position to its end; returns 0 or the error of the failure.
DWORD ReadToEnd(HANDLE handle, std::string* out) {
  out->clear();
  std::vector<char> buffer(65536);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
      return error;
    }
    if (got == 0) return 0;
    out->append(buffer.data(), got);
  }
}

// Sharing modes: an exclusive holder lets no one else open the file; shared holders let each
// other read and write, so an exclusive open fails while any of them is there. Neither lets
// the file be deleted or renamed, which is what makes a replacement fail while it is held.
DWORD ShareModeFor(LockedFile::Sharing sharing) {
  return sharing == LockedFile::Sharing::kExclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
}

HANDLE OpenExisting(const std::wstring& path, DWORD access, DWORD share) {
  return ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Opens a file for a LockedFile: read-write unless it is read-only (by attribute or because
// access is denied), then read-only. Returns INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenForLock(const std::wstring& path, DWORD share, bool reading, bool* read_only) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (reading ||
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)) {
    *read_only = true;
    return OpenExisting(path, GENERIC_READ, share);
  }
  HANDLE handle = OpenExisting(path, GENERIC_READ | GENERIC_WRITE, share);
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    handle = OpenExisting(path, GENERIC_READ, share);
    *read_only = true;
    return handle;
  }
  *read_only = false;
  return handle;
}

// Opens the file again after a replacement. A program that looks at every new file (a virus
// scanner) may hold it for a moment, so a sharing conflict is retried for a short while.
HANDLE ReopenForLock(const std::wstring& path, DWORD share, bool* read_only) {
  for (int attempt = 1;; ++attempt) {
    const HANDLE handle = OpenForLock(path, share, false, read_only);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    if (!IsSharingConflict(::GetLastError()) || attempt >= kReopenAttempts) return handle;
    ::Sleep(kReopenPauseMs);
  }
}

// A symbolic link is replaced by replacing the file it points to, not the link itself.
std::wstring ResolveForReplace(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring resolved(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, &resolved[0], static_cast<DWORD>(resolved.size()), FILE_NAME_NORMALIZED);
    if (length == 0) {
      resolved = path;
      break;
    }
    if (length < resolved.size()) {
      resolved.resize(length);
      break;
    }
    resolved.assign(length + 1, L'\0');  // too small: `length` is the size needed
  }
  ::CloseHandle(handle);
  return resolved;
}

// Creates a new, empty file beside `target`, held with no sharing, and names it in `*temp`.
// Returns INVALID_HANDLE_VALUE with the last error set when it cannot.
HANDLE CreateTempBeside(const std::wstring& target, std::wstring* temp) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[64];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".tmp%lx%x",
                  static_cast<unsigned long>(::GetCurrentProcessId()), ++counter);
    *temp = target + suffix;
    const HANDLE handle = ::CreateFileW(temp->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return handle;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// True when the security descriptor `descriptor` gives rights of the file's own: a protected
// access list, or an entry the file did not inherit from its folder.
bool HasOwnAccessRights(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(descriptor, &control, &revision)) return false;
  if ((control & SE_DACL_PROTECTED) != 0) return true;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted)) return false;
  if (!present || list == nullptr) return true;  // no list at all: everyone may do anything
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(list, i, &entry)) return false;
    if ((static_cast<const ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0) return true;
  }
  return false;
}

// Gives the replacement `temp` the access rights set on the file it replaces. Rights inherited
// from the folder need nothing: the replacement, made in the same folder, inherits the same.
// Best effort: when the rights cannot be read or set, the folder's rights are a sound fallback.
void CopyOwnAccessRights(const std::wstring& from, const std::wstring& temp) {
  DWORD needed = 0;
  ::GetFileSecurityW(from.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return;
  std::vector<unsigned char> buffer(needed);
  const PSECURITY_DESCRIPTOR descriptor = buffer.data();
  if (!::GetFileSecurityW(from.c_str(), DACL_SECURITY_INFORMATION, descriptor, needed, &needed)) {
    return;
  }
  if (!HasOwnAccessRights(descriptor)) return;
  if (!::SetFileSecurityW(temp.c_str(), DACL_SECURITY_INFORMATION, descriptor)) { /* ignored */
  }
}

// Fills the new file `handle` (named `temp`) with `pieces`, flushes it to disk and closes it;
// the file then carries the kept attributes of `original` (none when it is empty). Returns 0
// or the error of the failure, with `*step` naming the step that failed; `handle` is closed in
// every case.
DWORD FillTemp(HANDLE handle, const std::wstring& temp, const std::vector<std::string_view>& pieces,
               const std::wstring& original, const char** step) {
  *step = "cannot write";
  DWORD error = 0;
  for (const std::string_view piece : pieces) {
    if (error == 0) error = WriteAll(handle, piece);
  }
  if (error == 0 && !::FlushFileBuffers(handle)) error = ::GetLastError();
  if (!::CloseHandle(handle) && error == 0) error = ::GetLastError();
  if (error != 0 || original.empty()) return error;

  const DWORD attributes = ::GetFileAttributesW(original.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKeptAttributes) != 0) {
    if (!::SetFileAttributesW(temp.c_str(), attributes & kKeptAttributes)) {
      *step = "cannot set the attributes of";
      return ::GetLastError();
    }
  }
  CopyOwnAccessRights(original, temp);
  return 0;
}

// MoveFileEx with these flags renames within the volume in one step, replacing the target, and
// returns only once the rename is on disk.
bool RenameOver(const std::wstring& temp, const std::wstring& target) {
  return ::MoveFileExW(temp.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Writes `pieces` into a new temporary file beside `target` and renames it over `target`, so
// that `target` is always either its old content or the complete new one; an existing target's
// kept attributes and access rights carry over. On failure the temporary file is removed and
// OsError names `shown`.
void WriteBesideAndRename(const std::wstring& target, const std::string& shown,
                          const std::vector<std::string_view>& pieces, bool target_exists) {
  std::wstring temp;
  const HANDLE handle = CreateTempBeside(target, &temp);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail("cannot create a temporary file beside", shown, ::GetLastError());
  }
  const char* step = "cannot write";
  DWORD error = FillTemp(handle, temp, pieces, target_exists ? target : std::wstring(), &step);
  if (error == 0 && !RenameOver(temp, target)) {
    error = ::GetLastError();
    step = "cannot replace";
  }
  if (error != 0) {
    ::DeleteFileW(temp.c_str());
    if (IsSharingConflict(error)) FailInUse(shown);
    Fail(step, shown, error);
  }
}

// Dialogs are replaced by lines on standard error when ZUVREX_NO_DIALOGS is set (to anything
// but "0"): a scripted run, or one without a desktop, must never wait for a click.
bool DialogsSuppressed() {
  wchar_t value[16];
  const DWORD capacity = static_cast<DWORD>(sizeof value / sizeof value[0]);
  const DWORD length = ::GetEnvironmentVariableW(L"ZUVREX_NO_DIALOGS", value, capacity);
  if (length == 0) return false;        // not set, or set to nothing
  if (length >= capacity) return true;  // a longer value than fits: surely not "0"
  return !(length == 1 && value[0] == L'0');
}

// Standard error takes UTF-8 text. A console shows it only through the wide-character call
// (its code page is rarely UTF-8); a file or pipe gets the UTF-8 bytes as they are.
void WriteStandardError(const std::string& text) {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  WriteAll(handle, text);  // nothing sensible to do about a failure here
}

}  // namespace

void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) {
  if (DialogsSuppressed()) {
    WriteStandardError(caption + "\n" + text + "\n");
    return;
  }
  UINT type = MB_OK;
  if (icon == BoxIcon::kInformation) type |= MB_ICONINFORMATION;
  if (icon == BoxIcon::kError) type |= MB_ICONERROR;
  ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), type);
}

void WriteStandardOutputText(const std::string& text) {
  // The C runtime's text mode turns every "\n" into "\r\n" on the way out.
  std::fflush(stdout);
  const int descriptor = _fileno(stdout);  // negative when the process has no standard output
  if (descriptor < 0) return;
  _setmode(descriptor, _O_TEXT);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void WriteErrorLine(const std::string& text) { WriteStandardError(text + "\n"); }

void Beep() {
  // 0xFFFFFFFF asks for the simple beep, not one of the configured message sounds.
  ::MessageBeep(0xFFFFFFFF);
}

void RaisePriority() {
  // Either request may be refused (by policy or for lack of rights); that is fine, it is a hint.
  if (!::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS)) { /* ignored */
  }
  if (!::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST)) { /* ignored */
  }
}

void InitCommandLine(int argc, char** argv) {
  // main() gets its arguments in the ANSI code page, which loses every character outside it.
  // The wide command line has them all, split by the system's own rules.
  CommandLine& stored = StoredCommandLine();
  stored = CommandLine();
  const wchar_t* raw = ::GetCommandLineW();
  stored.raw = Narrow(std::wstring(raw != nullptr ? raw : L""));
  int count = 0;
  wchar_t** wide = raw != nullptr ? ::CommandLineToArgvW(raw, &count) : nullptr;
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) stored.arguments.push_back(Narrow(std::wstring(wide[i])));
    ::LocalFree(wide);
    return;
  }
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    stored.arguments.emplace_back(argv[i]);  // out of memory: the runtime's split is next best
  }
}

std::string RawCommandLine() { return StoredCommandLine().raw; }

std::vector<std::string> Arguments() { return StoredCommandLine().arguments; }

std::string ExecutableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) {
      FailWith("cannot tell the directory of the program: " + SystemReason(::GetLastError()));
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) {
    FailWith("cannot tell the directory of the program: '" + Narrow(path) + "' is not absolute");
  }
  return Narrow(path.substr(0, separator)) + '\\';
}

char PathSeparator() { return '\\'; }

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  WriteWholeFile(path, std::vector<std::string_view>{bytes});
}

void WriteWholeFile(const std::string& path, const std::vector<std::string_view>& pieces) {
  // Written beside and renamed over, so that a failed write (a full disk) never leaves a cut-off
  // file behind, and a file that is read-only stays as it is.
  const std::wstring target = ResolveForReplace(Widen(path));
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FailWith("cannot write '" + path + "': it is a directory");
  }
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    FailWith("cannot write '" + path + "': the file is read-only");
  }
  WriteBesideAndRename(target, path, pieces, exists);
}

std::string ReadWholeFile(const std::string& path) {
  const std::wstring wide = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FailWith("cannot read '" + path + "': it is a directory");
  }
  const HANDLE handle = OpenExisting(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (IsSharingConflict(error)) FailInUse(path);
    Fail("cannot open", path, error);
  }
  std::string content;
  LARGE_INTEGER size;
  if (::GetFileSizeEx(handle, &size) && size.QuadPart > 0) {
    content.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  if (const DWORD error = ReadToEnd(handle, &content)) {
    CloseQuietly(handle);
    Fail("cannot read", path, error);
  }
  ::CloseHandle(handle);  // read-only: nothing can be lost here
  return content;
}

void ReplaceFileWithCopy(const std::string& source, const std::string& given_target) {
  const std::wstring target = ResolveForReplace(Widen(given_target));
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool target_exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!target_exists) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) Fail("cannot replace", given_target, error);
  }
  if (target_exists) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      FailWith("cannot replace '" + given_target + "': it is not a regular file");
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      FailWith("cannot replace '" + given_target + "': the file is read-only");
    }
    // Asking for the rights a replacement needs, while allowing everything to everyone else,
    // fails exactly when the file may not be written or someone holds it open without letting
    // it be deleted (a reader of the old report, another run of the tool). Checking first
    // keeps a useless copy from being written; the rename below would fail the same way.
    // A hold of only a moment (another run reading the same report before it gives up) is
    // waited out briefly.
    for (int attempt = 1;; ++attempt) {
      const HANDLE probe = ::CreateFileW(target.c_str(), GENERIC_WRITE | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        break;
      }
      const DWORD error = ::GetLastError();
      if (IsSharingConflict(error) && attempt < kReopenAttempts) {
        ::Sleep(kReopenPauseMs);
        continue;
      }
      if (IsSharingConflict(error)) FailInUse(given_target);
      Fail("cannot replace", given_target, error);
    }
  }

  const std::string content = ReadWholeFile(source);
  WriteBesideAndRename(target, given_target, {content}, target_exists);
}

void AdviseLargeBuffer(void*, std::size_t) {
  // Large pages need a privilege that ordinary users lack on Windows; the hint is left out.
}

LocalTime Now() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalTime local;
  local.year = now.wYear;
  local.month = now.wMonth;
  local.day = now.wDay;
  local.hour = now.wHour;
  local.minute = now.wMinute;
  local.second = now.wSecond;
  return local;
}

LockedFile::LockedFile(const std::string& path, Sharing sharing) : path_(path), sharing_(sharing) {
  const std::wstring wide = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) Fail("cannot open", path, ::GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FailWith("cannot open '" + path + "': it is a directory");
  }
  const HANDLE handle =
      OpenForLock(wide, ShareModeFor(sharing), sharing == Sharing::kReading, &read_only_);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (IsSharingConflict(error)) FailInUse(path);
    Fail("cannot open", path, error);
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    CloseQuietly(handle);
    FailWith("cannot open '" + path + "': it is not a regular file");
  }
  handle_ = FromHandle(handle);
}

LockedFile::~LockedFile() {
  if (ToHandle(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(ToHandle(handle_));
}

std::string LockedFile::ReadAll() {
  const HANDLE handle = ToHandle(handle_);
  if (handle == INVALID_HANDLE_VALUE) {
    FailWith("cannot read '" + path_ + "': the file is no longer open");
  }
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
    Fail("cannot read", path_, ::GetLastError());
  }
  std::string content;
  if (const DWORD error = ReadToEnd(handle, &content)) Fail("cannot read", path_, error);
  return content;
}

void LockedFile::ReplaceContents(const std::string& bytes) {
  ReplaceContents(std::vector<std::string_view>{bytes});
}

void LockedFile::ReplaceContents(const std::vector<std::string_view>& pieces) {
  if (read_only_) FailWith("cannot replace '" + path_ + "': the file is read-only");
  if (ToHandle(handle_) == INVALID_HANDLE_VALUE) {
    FailWith("cannot replace '" + path_ + "': the file is no longer open");
  }
  const std::wstring path = Widen(path_);
  const std::wstring target = ResolveForReplace(path);
  std::wstring temp;
  const HANDLE temp_handle = CreateTempBeside(target, &temp);
  if (temp_handle == INVALID_HANDLE_VALUE) {
    Fail("cannot create a temporary file beside", path_, ::GetLastError());
  }
  const char* step = "cannot write";
  if (const DWORD error = FillTemp(temp_handle, temp, pieces, target, &step)) {
    ::DeleteFileW(temp.c_str());
    Fail(step, path_, error);
  }

  // Windows renames nothing over a file that is open, ours included, so the old file is let go
  // just before the rename and the new one taken straight after. In that short window another
  // program could open the file; the rename or the reopen then fails and says so.
  ::CloseHandle(ToHandle(handle_));
  handle_ = FromHandle(INVALID_HANDLE_VALUE);
  const DWORD share = ShareModeFor(sharing_);
  bool read_only = false;
  if (!RenameOver(temp, target)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    const HANDLE old_handle = ReopenForLock(path, share, &read_only);
    if (old_handle != INVALID_HANDLE_VALUE) handle_ = FromHandle(old_handle);
    if (IsSharingConflict(error)) FailInUse(path_);
    Fail("cannot replace", path_, error);
  }
  const HANDLE new_handle = ReopenForLock(path, share, &read_only);
  if (new_handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    FailWith("'" + path_ + "' was replaced but cannot be held again: " +
             (IsSharingConflict(error) ? std::string("it is in use by another program")
                                       : SystemReason(error)));
  }
  handle_ = FromHandle(new_handle);
  read_only_ = read_only;
}

}  // namespace platform
