#include "log/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "log/texts.h"
#include "platform/codepage.h"
#include "platform/os.h"

namespace runlog {
namespace {

// "Запись с ид.№" and " найдена снова." in Windows-1251.
const char kFoundAgainPrefix1251[] = "\xC7\xE0\xEF\xE8\xF1\xFC \xF1 \xE8\xE4.\xB9";
const char kFoundAgainSuffix1251[] = " \xED\xE0\xE9\xE4\xE5\xED\xE0 \xF1\xED\xEE\xE2\xE0.";
// "Сохраняем отчет", the closing line, in Windows-1251.
const char kSaving1251[] = "\xD1\xEE\xF5\xF0\xE0\xED\xFF\xE5\xEC \xEE\xF2\xF7\xE5\xF2";

std::string Joined(const std::vector<std::string_view>& pieces) {
  std::string joined;
  for (const std::string_view piece : pieces) joined.append(piece);
  return joined;
}

TEST(RunLogTest, LinesAreStoredAsTheLogFileHoldsThem) {
  struct Case {
    const char* name;
    std::vector<std::vector<std::string_view>> lines;  // each line given as its pieces
    std::string bytes;
  };
  const std::string malformed = std::string("x\xD0") + "y\xFF";
  const std::vector<Case> cases = {
      {"nothing", {}, ""},
      {"an empty line", {{""}}, "\r\n"},
      {"ascii", {{"NP=99991"}, {"Added: 12"}}, "NP=99991\r\nAdded: 12\r\n"},
      {"cyrillic and the number sign in pieces",
       {{texts::kLogFoundAgainPrefix, "0123456789", texts::kLogFoundAgainSuffix}},
       std::string(kFoundAgainPrefix1251) + "0123456789" + kFoundAgainSuffix1251 + "\r\n"},
      {"the same line given whole",
       {{"Запись с ид.№0123456789 найдена снова."}},
       std::string(kFoundAgainPrefix1251) + "0123456789" + kFoundAgainSuffix1251 + "\r\n"},
      {"characters Windows-1251 lacks", {{"a\u4E2Db\u03A9c\U0001F600"}}, "a?b?c?\r\n"},
      {"malformed UTF-8", {{malformed}, {"\xE2\x84"}}, "x?y?\r\n??\r\n"},
      {"empty pieces", {{"", "Ёж", "", "Є"}}, "\xA8\xE6\xAA\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunLog log;
    for (const std::vector<std::string_view>& pieces : c.lines) {
      switch (pieces.size()) {
        case 1:
          log.Add(std::string(pieces[0]));  // the form of the callers that build a string
          break;
        case 3:
          log.Add({pieces[0], pieces[1], pieces[2]});
          break;
        case 4:
          log.Add({pieces[0], pieces[1], pieces[2], pieces[3]});
          break;
        default:
          FAIL() << "a case line must have 1, 3 or 4 pieces";
      }
    }
    EXPECT_EQ(LogFileBytes(log), c.bytes);
    EXPECT_EQ(Joined(log.Pieces()), c.bytes);
  }

  // A line whose fixed parts were encoded beforehand is the same line.
  RunLog log;
  log.Add(LogText(texts::kLogFoundAgainPrefix), "01234\u4E2D",
          LogText(texts::kLogFoundAgainSuffix));
  EXPECT_EQ(LogFileBytes(log),
            std::string(kFoundAgainPrefix1251) + "01234?" + kFoundAgainSuffix1251 + "\r\n");
}

TEST(RunLogTest, ALogOfManyChunksEqualsTheLineByLineEncoding) {
  RunLog log;
  std::string expected;
  const auto add = [&](const std::string& line) {
    log.Add(line);
    expected += platform::EncodeFromUtf8(line, platform::CodePage::kCp1251) + "\r\n";
  };
  // Lines of many lengths, Cyrillic and ASCII, so that chunk ends fall at varied places.
  std::mt19937 random(7);
  while (expected.size() < 2 * RunLog::kChunkBytes + RunLog::kChunkBytes / 2) {
    const std::string tin = std::to_string(random() % 10000000000u);
    log.Add({texts::kLogFoundAgainPrefix, tin, texts::kLogFoundAgainSuffix});
    expected += kFoundAgainPrefix1251 + tin + kFoundAgainSuffix1251 + "\r\n";
    std::string line(random() % 90, 'a');
    for (std::size_t i = random() % 40; i > 0; --i) line += "Ж";
    add(line);
  }
  // A line that fills the last chunk to its end, one that is one byte too long for what is
  // then left, a line longer than a whole chunk, and a short line after it.
  const std::size_t left = RunLog::kChunkBytes - log.Pieces().back().size();
  ASSERT_GE(left, 2u);
  add(std::string(left - 2, 'f'));
  add(std::string(RunLog::kChunkBytes - 1, 'g'));
  std::string long_line;
  for (std::size_t i = 0; i < RunLog::kChunkBytes; ++i) long_line += i % 2 == 0 ? "Ш" : "w";
  add(long_line);
  add("end");

  EXPECT_GE(log.Pieces().size(), 5u);
  // Compared by size first: a mismatch of a few megabytes would otherwise flood the output.
  const std::string bytes = LogFileBytes(log);
  ASSERT_EQ(bytes.size(), expected.size());
  EXPECT_TRUE(bytes == expected);
  EXPECT_TRUE(Joined(log.Pieces()) == expected);

  log.Clear();
  EXPECT_TRUE(log.Pieces().empty());
  log.Add("after");
  EXPECT_EQ(LogFileBytes(log), "after\r\n");
}

class SaveRunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const std::filesystem::path candidate = std::filesystem::path(::testing::TempDir()) /
                                              ("zuvrex_run_log_" + std::to_string(seed()));
      if (std::filesystem::create_directory(candidate)) dir_ = candidate.string();
    }
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // The directory as SaveRunLog takes it, ending in a separator.
  std::string Directory() const { return dir_ + platform::PathSeparator(); }
  std::string Path(const std::string& name) const { return Directory() + name; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::string dir_;
};

TEST_F(SaveRunLogTest, WritesTheFixedAndTheFirstFreeNumberedFileWithTheSameBytes) {
  std::set<std::string> all_numbered;
  for (int n = 0; n <= texts::kNumberedLogLimit; ++n) all_numbered.insert(NumberedLogName(n));
  struct Case {
    const char* name;
    std::set<std::string> existing;  // files there before, each holding "keep"
    std::string numbered;            // the numbered file written, empty for none
  };
  const std::vector<Case> cases = {
      {"nothing there yet", {}, "ZuvrLOG.TXT"},
      {"an old fixed-name log is replaced", {"Zuvrex5.LOG"}, "ZuvrLOG.TXT"},
      {"the first names taken", {"Zuvrex5.LOG", "ZuvrLOG.TXT", "ZuvrLOG1.TXT"}, "ZuvrLOG2.TXT"},
      {"a gap is filled", {"ZuvrLOG.TXT", "ZuvrLOG2.TXT"}, "ZuvrLOG1.TXT"},
      {"only the last name free",
       [&] {
         std::set<std::string> names = all_numbered;
         names.erase("ZuvrLOG999.TXT");
         return names;
       }(),
       "ZuvrLOG999.TXT"},
      {"every numbered name taken", all_numbered, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    std::filesystem::create_directory(dir_);
    for (const std::string& name : c.existing) std::ofstream(Path(name)) << "keep";

    RunLog log;
    log.Add({texts::kLogFoundAgainPrefix, "0123456789", texts::kLogFoundAgainSuffix});
    SaveRunLog(log, Directory());

    const std::string expected = std::string(kFoundAgainPrefix1251) + "0123456789" +
                                 kFoundAgainSuffix1251 + "\r\n" + kSaving1251 + "\r\n";
    EXPECT_EQ(platform::ReadWholeFile(Path(texts::kLogFileName)), expected);
    std::set<std::string> names = c.existing;
    names.insert(texts::kLogFileName);
    if (!c.numbered.empty()) {
      EXPECT_EQ(platform::ReadWholeFile(Path(c.numbered)), expected);
      names.insert(c.numbered);
    }
    EXPECT_TRUE(Names() == names);  // nothing else written, no temporary file left
    for (const std::string& name : c.existing) {
      if (name != texts::kLogFileName) {
        EXPECT_EQ(platform::ReadWholeFile(Path(name)), "keep");
      }
    }
  }
}

TEST_F(SaveRunLogTest, AFailingFixedNameFileStopsBeforeTheNumberedOne) {
  // A directory where the log file should be cannot be replaced by a file.
  std::filesystem::create_directory(Path(texts::kLogFileName));
  RunLog log;
  log.Add("line");
  try {
    SaveRunLog(log, Directory());
    ADD_FAILURE() << "no OsError";
  } catch (const platform::OsError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot write '" + Path(texts::kLogFileName) + "'"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Names(), std::set<std::string>{texts::kLogFileName});
}

}  // namespace
}  // namespace runlog
