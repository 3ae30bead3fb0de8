// Tests of the POSIX platform source. They run as root in CI, so every "read-only" case uses a
// file without write permission bits (which the platform treats as read-only even for root), and
// the permission-denied case switches a child process to an unprivileged user.
// The test sources are globbed on every system; this one compiles to nothing on Windows.
#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace platform {
namespace {

// Exit codes of the child processes.
constexpr int kOk = 0;
constexpr int kInUse = 10;       // OsError "... is in use by another program"
constexpr int kOtherError = 11;  // another OsError
constexpr int kUnexpected = 12;  // anything else (wrong result, other exception)

// Runs `body` in a forked child and returns its exit code (or 128 + signal).
int InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = kUnexpected;
    try {
      code = body();
    } catch (const OsError& e) {
      code = std::string(e.what()).find("is in use by another program") != std::string::npos
                 ? kInUse
                 : kOtherError;
    } catch (...) {
      code = kUnexpected;
    }
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Opens `path` in another process and reports how it went.
int OpenInChild(const std::string& path, LockedFile::Sharing sharing) {
  return InChild([&] {
    LockedFile file(path, sharing);
    return kOk;
  });
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const OsError& e) {
    return e.what();
  }
  return "(no OsError)";
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

class OsPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zuvrex_os_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Make(const std::string& name, const std::string& content, mode_t mode = 0644) {
    const std::string path = Path(name);
    WriteWholeFile(path, content);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
  // The names in the directory, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string dir_;
};

using Sharing = LockedFile::Sharing;

// ---- LockedFile: locking ----

TEST_F(OsPosixTest, ExclusiveLockBlocksEveryOtherOpen) {
  const std::string path = Make("a.dbf", "abc");
  {
    LockedFile held(path, Sharing::kExclusive);
    EXPECT_FALSE(held.read_only());
    EXPECT_EQ(held.path(), path);
    EXPECT_EQ(OpenInChild(path, Sharing::kExclusive), kInUse);
    EXPECT_EQ(OpenInChild(path, Sharing::kShared), kInUse);
    // The same process opening it again conflicts too.
    EXPECT_EQ(MessageOf([&] { LockedFile again(path, Sharing::kShared); }),
              "'" + path + "' is in use by another program");
  }
  // Released with the object.
  EXPECT_EQ(OpenInChild(path, Sharing::kExclusive), kOk);
}

TEST_F(OsPosixTest, SharedLocksCoexist) {
  const std::string path = Make("a.dbf", "abc");
  LockedFile first(path, Sharing::kShared);
  LockedFile second(path, Sharing::kShared);
  LockedFile reader(path, Sharing::kReading);
  EXPECT_EQ(OpenInChild(path, Sharing::kShared), kOk);
  EXPECT_EQ(OpenInChild(path, Sharing::kReading), kOk);
  EXPECT_EQ(first.ReadAll(), "abc");
  EXPECT_EQ(second.ReadAll(), "abc");
  EXPECT_EQ(reader.ReadAll(), "abc");
  EXPECT_FALSE(first.read_only());
  EXPECT_TRUE(reader.read_only());
  EXPECT_THROW(reader.ReplaceContents("xyz"), OsError);
}

TEST_F(OsPosixTest, SharedAndExclusiveConflict) {
  const std::string path = Make("a.dbf", "abc");
  for (const Sharing sharing : {Sharing::kShared, Sharing::kReading}) {
    LockedFile shared(path, sharing);
    EXPECT_EQ(OpenInChild(path, Sharing::kExclusive), kInUse);
    EXPECT_THROW(LockedFile(path, Sharing::kExclusive), OsError);
  }
  {
    LockedFile exclusive(path, Sharing::kExclusive);
    EXPECT_EQ(OpenInChild(path, Sharing::kShared), kInUse);
    EXPECT_EQ(OpenInChild(path, Sharing::kReading), kInUse);
  }
}

TEST_F(OsPosixTest, LockHeldByAChildBlocksTheParent) {
  const std::string path = Make("a.dbf", "abc");
  int ready[2];
  int done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      LockedFile held(path, Sharing::kExclusive);
      char c = 'r';
      if (::write(ready[1], &c, 1) != 1) ::_exit(1);
      if (::read(done[0], &c, 1) != 1) ::_exit(1);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(MessageOf([&] { LockedFile mine(path, Sharing::kShared); }),
            "'" + path + "' is in use by another program");
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  LockedFile mine(path, Sharing::kExclusive);  // free again
  for (const int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

// ---- LockedFile: opening ----

TEST_F(OsPosixTest, MissingFileRaises) {
  const std::string path = Path("missing.dbf");
  EXPECT_EQ(MessageOf([&] { LockedFile f(path, Sharing::kShared); }),
            "cannot open '" + path + "': No such file or directory");
  EXPECT_FALSE(FileExists(path));  // not created
}

TEST_F(OsPosixTest, DirectoryIsRefused) {
  const std::string message = MessageOf([&] { LockedFile f(dir_, Sharing::kShared); });
  EXPECT_EQ(message, "cannot open '" + dir_ + "': Is a directory");
}

TEST_F(OsPosixTest, ReadAllReadsFromTheStartEveryTime) {
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  const std::string path = Make("big.dbf", big);
  LockedFile file(path, Sharing::kExclusive);
  EXPECT_EQ(file.ReadAll(), big);
  EXPECT_EQ(file.ReadAll(), big);
}

TEST_F(OsPosixTest, FileWithoutWriteBitsOpensReadOnlyAndIsNotReplaced) {
  const std::string path = Make("ro.dbf", "original", 0444);
  LockedFile file(path, Sharing::kExclusive);  // root too: the mode bits decide
  EXPECT_TRUE(file.read_only());
  EXPECT_EQ(file.ReadAll(), "original");
  EXPECT_EQ(MessageOf([&] { file.ReplaceContents("new"); }),
            "cannot replace '" + path + "': the file is read-only");
  EXPECT_EQ(ReadWholeFile(path), "original");
  EXPECT_EQ(ModeOf(path), 0444u);
  EXPECT_EQ(Names(), std::vector<std::string>{"ro.dbf"});
  // Still locked after the refusal.
  EXPECT_EQ(OpenInChild(path, Sharing::kShared), kInUse);
}

TEST_F(OsPosixTest, FileTheUserMayNotWriteOpensReadOnly) {
  // A file with write bits that the process still may not write (EACCES on the read-write open).
  // Root may write anything, so the check runs in a child switched to an unprivileged user.
  const std::string path = Make("theirs.dbf", "theirs", 0644);
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  const int code = InChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 20;
    if (::geteuid() == 0) return 21;
    if (::access(path.c_str(), W_OK) == 0) return 22;  // a non-root user owning the file
    LockedFile file(path, Sharing::kShared);
    if (!file.read_only()) return 23;
    if (file.ReadAll() != "theirs") return 24;
    try {
      file.ReplaceContents("mine");
      return 25;
    } catch (const OsError&) {
    }
    try {
      ReplaceFileWithCopy(path, path);
      return 26;
    } catch (const OsError&) {
    }
    return kOk;
  });
  if (::geteuid() != 0 && code == 22) GTEST_SKIP() << "the test user owns the file";
  EXPECT_EQ(code, kOk);
  EXPECT_EQ(ReadWholeFile(path), "theirs");
  EXPECT_EQ(Names(), std::vector<std::string>{"theirs.dbf"});
}

// ---- LockedFile: replacing ----

TEST_F(OsPosixTest, ReplaceContentsReplacesAndKeepsTheLock) {
  const std::string path = Make("a.dbf", "old content", 0640);
  LockedFile file(path, Sharing::kExclusive);
  file.ReplaceContents("new");
  EXPECT_EQ(file.ReadAll(), "new");
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_EQ(ModeOf(path), 0640u);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.dbf"});
  EXPECT_EQ(OpenInChild(path, Sharing::kShared), kInUse);
  EXPECT_EQ(OpenInChild(path, Sharing::kExclusive), kInUse);
  file.ReplaceContents("");
  EXPECT_EQ(file.ReadAll(), "");
  file.ReplaceContents(std::string(100000, 'z'));
  EXPECT_EQ(ReadWholeFile(path), std::string(100000, 'z'));
  EXPECT_EQ(OpenInChild(path, Sharing::kShared), kInUse);
}

TEST_F(OsPosixTest, ReplaceContentsUnderASharedLockKeepsItShared) {
  const std::string path = Make("a.dbf", "old");
  LockedFile file(path, Sharing::kShared);
  file.ReplaceContents("new");
  EXPECT_EQ(OpenInChild(path, Sharing::kShared), kOk);
  EXPECT_EQ(OpenInChild(path, Sharing::kExclusive), kInUse);
}

TEST_F(OsPosixTest, ReplaceContentsWithARelativePath) {
  const std::string path = Make("rel.dbf", "old");
  const int code = InChild([&] {
    if (::chdir(dir_.c_str()) != 0) return 30;
    LockedFile file("rel.dbf", Sharing::kExclusive);
    file.ReplaceContents("new");
    return file.ReadAll() == "new" ? kOk : 31;
  });
  EXPECT_EQ(code, kOk);
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"rel.dbf"});
}

TEST_F(OsPosixTest, ReplaceContentsFailureKeepsTheOldContent) {
  // A file size limit makes the write of the temporary file fail (EFBIG), as a full disk would.
  const std::string path = Make("a.dbf", "old content");
  const int code = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    LockedFile file(path, Sharing::kExclusive);
    struct rlimit limit = {100, 100};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 40;
    try {
      file.ReplaceContents(std::string(5000, 'n'));
      return 41;
    } catch (const OsError& e) {
      const std::string message = e.what();
      if (message != "cannot write '" + path + "': File too large") {
        std::fprintf(stderr, "unexpected message: %s\n", message.c_str());
        return 42;
      }
    }
    if (file.ReadAll() != "old content") return 43;
    file.ReplaceContents("small");  // still usable, still the owner of the lock
    return file.ReadAll() == "small" ? kOk : 44;
  });
  EXPECT_EQ(code, kOk);
  EXPECT_EQ(ReadWholeFile(path), "small");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.dbf"});
}

// ---- ReplaceFileWithCopy ----

TEST_F(OsPosixTest, ReplaceFileWithCopyReplacesAndKeepsTheMode) {
  const std::string source = Make("source.dbf", "source bytes");
  const std::string target = Make("target.dbf", "target bytes, longer than the source", 0600);
  ReplaceFileWithCopy(source, target);
  EXPECT_EQ(ReadWholeFile(target), "source bytes");
  EXPECT_EQ(ReadWholeFile(source), "source bytes");
  EXPECT_EQ(ModeOf(target), 0600u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"source.dbf", "target.dbf"}));
}

TEST_F(OsPosixTest, ReplaceFileWithCopyWaitsOutAShortLockAndFailsOnALongOne) {
  const std::string source = Make("source.dbf", "new");
  const std::string target = Make("target.dbf", "old");
  // A child holds a shared lock on the target (as a reading run would) for `hold_ms`.
  for (const int hold_ms : {200, 3000}) {
    SCOPED_TRACE(hold_ms);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        LockedFile held(target, Sharing::kReading);
        char c = 'r';
        if (::write(ready[1], &c, 1) != 1) ::_exit(1);
        ::usleep(static_cast<useconds_t>(hold_ms) * 1000);
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    if (hold_ms < 1000) {
      ReplaceFileWithCopy(source, target);
      EXPECT_EQ(ReadWholeFile(target), "new");
    } else {
      EXPECT_EQ(MessageOf([&] { ReplaceFileWithCopy(source, target); }),
                "'" + target + "' is in use by another program");
      EXPECT_EQ(ReadWholeFile(target), "new");  // unchanged since the first round
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (const int fd : {ready[0], ready[1]}) ::close(fd);
  }
}

TEST_F(OsPosixTest, ReplaceFileWithCopyCreatesAMissingTarget) {
  const std::string source = Make("source.dbf", "bytes", 0600);
  const std::string target = Path("new.dbf");
  ReplaceFileWithCopy(source, target);
  EXPECT_EQ(ReadWholeFile(target), "bytes");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(ModeOf(target), 0666u & ~mask);
  EXPECT_EQ(Names(), (std::vector<std::string>{"new.dbf", "source.dbf"}));
}

TEST_F(OsPosixTest, ReplaceFileWithCopyRefusesAReadOnlyTarget) {
  const std::string source = Make("source.dbf", "source bytes");
  const std::string target = Make("target.dbf", "keep me", 0444);
  EXPECT_EQ(MessageOf([&] { ReplaceFileWithCopy(source, target); }),
            "cannot replace '" + target + "': the file is read-only");
  EXPECT_EQ(ReadWholeFile(target), "keep me");
  EXPECT_EQ(ModeOf(target), 0444u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"source.dbf", "target.dbf"}));
}

TEST_F(OsPosixTest, ReplaceFileWithCopyMissingSourceLeavesTheTarget) {
  const std::string target = Make("target.dbf", "keep me");
  EXPECT_THROW(ReplaceFileWithCopy(Path("missing.dbf"), target), OsError);
  EXPECT_EQ(ReadWholeFile(target), "keep me");
  EXPECT_EQ(Names(), std::vector<std::string>{"target.dbf"});
}

TEST_F(OsPosixTest, ReplaceFileWithCopyRefusesADirectoryTarget) {
  const std::string source = Make("source.dbf", "bytes");
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
  EXPECT_THROW(ReplaceFileWithCopy(source, Path("sub")), OsError);
  EXPECT_TRUE(std::filesystem::is_directory(Path("sub")));
}

TEST_F(OsPosixTest, ReplaceFileWithCopyWithRelativePaths) {
  Make("source.dbf", "relative");
  Make("target.dbf", "old");
  const int code = InChild([&] {
    if (::chdir(dir_.c_str()) != 0) return 30;
    ReplaceFileWithCopy("source.dbf", "target.dbf");
    return kOk;
  });
  EXPECT_EQ(code, kOk);
  EXPECT_EQ(ReadWholeFile(Path("target.dbf")), "relative");
  EXPECT_EQ(Names(), (std::vector<std::string>{"source.dbf", "target.dbf"}));
}

TEST_F(OsPosixTest, ReplaceFileWithCopyThroughASymbolicLinkReplacesTheLinkedFile) {
  const std::string source = Make("source.dbf", "new");
  const std::string real = Make("real.dbf", "old", 0640);
  ASSERT_EQ(::symlink("real.dbf", Path("link.dbf").c_str()), 0);
  ReplaceFileWithCopy(source, Path("link.dbf"));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.dbf")));
  EXPECT_EQ(ReadWholeFile(real), "new");
  EXPECT_EQ(ModeOf(real), 0640u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"link.dbf", "real.dbf", "source.dbf"}));
}

TEST_F(OsPosixTest, FailedReplacementsLeaveTargetAndNoTemporaryFile) {
  // Both ways of replacing a whole file write beside it first; a file size limit makes that
  // write fail (EFBIG), as a full disk would.
  const std::string source = Make("source.dbf", std::string(5000, 's'));
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> ways = {
      {"ReplaceFileWithCopy",
       [&](const std::string& target) { ReplaceFileWithCopy(source, target); }},
      {"WriteWholeFile",
       [&](const std::string& target) { WriteWholeFile(target, std::string(5000, 'w')); }},
      {"WriteWholeFile in pieces",
       [&](const std::string& target) {
         const std::string piece(2500, 'w');
         WriteWholeFile(target, std::vector<std::string_view>{piece, piece});
       }},
  };
  for (const auto& [name, replace] : ways) {
    SCOPED_TRACE(name);
    const std::string target = Make("target.dbf", "keep me");
    const int code = InChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {100, 100};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 40;
      try {
        replace(target);
        return 41;
      } catch (const OsError& e) {
        return std::string(e.what()) == "cannot write '" + target + "': File too large" ? kOk : 42;
      }
    });
    EXPECT_EQ(code, kOk);
    EXPECT_EQ(ReadWholeFile(target), "keep me");
    EXPECT_EQ(Names(), (std::vector<std::string>{"source.dbf", "target.dbf"}));
  }
}

// ---- Whole files ----

TEST_F(OsPosixTest, WriteAndReadWholeFile) {
  const std::string path = Path("log.txt");
  WriteWholeFile(path, "first\r\nsecond");
  EXPECT_EQ(ReadWholeFile(path), "first\r\nsecond");
  WriteWholeFile(path, "x");  // replaced, not appended
  EXPECT_EQ(ReadWholeFile(path), "x");
  WriteWholeFile(path, "");
  EXPECT_EQ(ReadWholeFile(path), "");
  WriteWholeFile(path, std::vector<std::string_view>{"first\r\n", "", "second"});
  EXPECT_EQ(ReadWholeFile(path), "first\r\nsecond");
  WriteWholeFile(path, std::vector<std::string_view>{});
  EXPECT_EQ(ReadWholeFile(path), "");
}

TEST_F(OsPosixTest, WholeFileErrorsSurface) {
  EXPECT_EQ(MessageOf([] { WriteWholeFile("/dev/full", "bytes"); }),
            "cannot write '/dev/full': it is not a regular file");
  EXPECT_EQ(MessageOf([&] { WriteWholeFile(dir_, "x"); }),
            "cannot write '" + dir_ + "': Is a directory");
  EXPECT_EQ(MessageOf([&] { WriteWholeFile(Path("no/such/dir.txt"), "x"); }),
            "cannot create a temporary file beside '" + Path("no/such/dir.txt") +
                "': No such file or directory");
  EXPECT_EQ(MessageOf([&] { ReadWholeFile(Path("missing")); }),
            "cannot open '" + Path("missing") + "': No such file or directory");
  EXPECT_EQ(MessageOf([&] { ReadWholeFile(dir_); }), "cannot read '" + dir_ + "': Is a directory");
}

TEST_F(OsPosixTest, FileExists) {
  EXPECT_TRUE(FileExists(dir_));
  EXPECT_TRUE(FileExists(Make("a", "")));
  EXPECT_FALSE(FileExists(Path("b")));
  EXPECT_FALSE(FileExists(""));
}

// ---- Process services ----

TEST(OsPosixProcessTest, RawCommandLineQuotesBlanksAndEmptyArguments) {
  const char* argv[] = {"/opt/zuvrex/Zuvrex5", "3", "a b.dbf", "", "plain", "tab\there", nullptr};
  InitCommandLine(6, const_cast<char**>(argv));
  EXPECT_EQ(RawCommandLine(), "/opt/zuvrex/Zuvrex5 3 \"a b.dbf\" \"\" plain \"tab\there\"");
  EXPECT_EQ(Arguments(), (std::vector<std::string>{"/opt/zuvrex/Zuvrex5", "3", "a b.dbf", "",
                                                   "plain", "tab\there"}));
  const char* one[] = {"prog", nullptr};
  InitCommandLine(1, const_cast<char**>(one));
  EXPECT_EQ(RawCommandLine(), "prog");
  EXPECT_EQ(Arguments(), std::vector<std::string>{"prog"});
}

TEST(OsPosixProcessTest, ExecutableDirectoryEndsInASeparator) {
  const std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.front(), '/');
  EXPECT_EQ(directory.back(), '/');
  EXPECT_EQ(directory.back(), PathSeparator());
  EXPECT_TRUE(std::filesystem::is_directory(directory));
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(exe.substr(0, directory.size()), directory);
  EXPECT_EQ(exe.find('/', directory.size()), std::string::npos);
}

TEST(OsPosixProcessTest, NowIsTheLocalTime) {
  const std::time_t before = std::time(nullptr);
  const LocalTime now = Now();
  struct tm parts {};
  ::localtime_r(&before, &parts);
  EXPECT_EQ(now.year, parts.tm_year + 1900);
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_GE(now.hour, 0);
  EXPECT_LE(now.hour, 23);
  EXPECT_GE(now.minute, 0);
  EXPECT_LE(now.minute, 59);
  EXPECT_GE(now.second, 0);
  EXPECT_LE(now.second, 60);
}

TEST_F(OsPosixTest, MessageBoxAndBeepWriteToStandardError) {
  const std::string captured = Path("stderr.txt");
  const int code = InChild([&] {
    const int fd = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, 2) < 0) return 50;
    ShowMessageBox("Zuvrex5 – помилка", "line one\r\nline two\nend", BoxIcon::kError);
    Beep();
    ShowMessageBox("", "", BoxIcon::kNone);
    RaisePriority();  // never raises, allowed or not
    return kOk;
  });
  EXPECT_EQ(code, kOk);
  EXPECT_EQ(ReadWholeFile(captured), "Zuvrex5 – помилка\nline one\r\nline two\nend\n\a\n\n");
}

}  // namespace
}  // namespace platform

#endif  // !defined(_WIN32)
