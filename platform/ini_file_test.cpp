#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/os.h"

namespace platform {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    std::random_device random;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() /
                             ("zuvrex_ini_test_" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) dir_ = candidate.u8string();
    }
    ASSERT_FALSE(dir_.empty());
#else
    char pattern[] = "/tmp/zuvrex_ini_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
#endif
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Write(const std::string& content) {
    const std::string path = dir_ + "/settings.ini";
    WriteWholeFile(path, content);
    return path;
  }
  std::string dir_;
};

TEST_F(IniFileTest, SectionsAndKeysIgnoreCase) {
  const IniFile ini(Write("[Main]\nPeriod=3\n[Other Section]\n  Name = Value  \n"));
  EXPECT_EQ(ini.ReadInteger("Main", "Period", 0), 3);
  EXPECT_EQ(ini.ReadInteger("MAIN", "period", 0), 3);
  EXPECT_EQ(ini.ReadInteger("main", "PERIOD", 0), 3);
  EXPECT_EQ(ini.ReadString("other section", "NAME", "-"), "Value");
  EXPECT_EQ(ini.ReadString("Main", "Name", "-"), "-");      // other section's key
  EXPECT_EQ(ini.ReadString("Missing", "Period", "-"), "-");  // missing section
  EXPECT_EQ(ini.ReadInteger("Main", "Missing", 9), 9);        // missing key
}

TEST_F(IniFileTest, MissingFileIsEmpty) {
  const IniFile ini(dir_ + "/no_such.ini");
  EXPECT_EQ(ini.ReadInteger("Main", "Period", 5), 5);
  EXPECT_EQ(ini.ReadString("Main", "Period", "x"), "x");
}

TEST_F(IniFileTest, DirectoryReadsAsEmpty) {
  const IniFile ini(dir_);
  EXPECT_EQ(ini.ReadString("Main", "Period", "x"), "x");
}

TEST_F(IniFileTest, EmptyValue) {
  const IniFile ini(Write("[Main]\nPeriod=\nName=   \n"));
  EXPECT_EQ(ini.ReadInteger("Main", "Period", 7), 7);
  EXPECT_EQ(ini.ReadString("Main", "Period", "fallback"), "");
  EXPECT_EQ(ini.ReadString("Main", "Name", "fallback"), "");
}

TEST_F(IniFileTest, Quotes) {
  const IniFile ini(Write("[Main]\nA=\"  padded  \"\nB=\"\"\nC=\"open\nD=say \"hi\"\nE=\"\n"
                          "F=\"12\"\n"));
  EXPECT_EQ(ini.ReadString("Main", "A", "-"), "  padded  ");
  EXPECT_EQ(ini.ReadString("Main", "B", "-"), "");
  EXPECT_EQ(ini.ReadString("Main", "C", "-"), "\"open");
  EXPECT_EQ(ini.ReadString("Main", "D", "-"), "say \"hi\"");
  EXPECT_EQ(ini.ReadString("Main", "E", "-"), "\"");
  EXPECT_EQ(ini.ReadInteger("Main", "F", 0), 12);
}

TEST_F(IniFileTest, Comments) {
  const IniFile ini(Write("; leading comment\n# another\n[Main]\n;Period=1\n  # Period=2\n"
                          "Period=3 ; not a comment here\nName=a;b\n"));
  EXPECT_EQ(ini.ReadString("Main", "Period", "-"), "3 ; not a comment here");
  EXPECT_EQ(ini.ReadInteger("Main", "Period", -1), -1);
  EXPECT_EQ(ini.ReadString("Main", "Name", "-"), "a;b");
  EXPECT_EQ(ini.ReadString("Main", ";Period", "-"), "-");
}

TEST_F(IniFileTest, CrLfAndBom) {
  const IniFile ini(Write("\xEF\xBB\xBF[Main]\r\nPeriod=4\r\nName=x y\r\n\r\n[Next]\r\nK=v"));
  EXPECT_EQ(ini.ReadInteger("Main", "Period", 0), 4);
  EXPECT_EQ(ini.ReadString("Main", "Name", "-"), "x y");
  EXPECT_EQ(ini.ReadString("Next", "K", "-"), "v");  // last line without line end
}

TEST_F(IniFileTest, IntegerForms) {
  const IniFile ini(Write("[Main]\nA=120.50\nB=0x10\nC=-5\nD=  $1F  \nE=12 apples\nF=04\n"));
  EXPECT_EQ(ini.ReadInteger("Main", "A", 77), 77);
  EXPECT_EQ(ini.ReadInteger("Main", "B", 77), 16);
  EXPECT_EQ(ini.ReadInteger("Main", "C", 77), -5);
  EXPECT_EQ(ini.ReadInteger("Main", "D", 77), 31);
  EXPECT_EQ(ini.ReadInteger("Main", "E", 77), 77);
  EXPECT_EQ(ini.ReadInteger("Main", "F", 77), 4);
}

TEST_F(IniFileTest, FirstDuplicateWinsAndKeysBeforeSectionsAreIgnored) {
  const IniFile ini(Write("Period=1\n[Main]\nPeriod=2\nperiod=3\n[main]\nPeriod=4\nExtra=5\n"));
  EXPECT_EQ(ini.ReadInteger("Main", "Period", 0), 2);
  // A repeated section header is ignored with its keys, as Windows does.
  EXPECT_EQ(ini.ReadInteger("Main", "Extra", 0), 0);
}

TEST_F(IniFileTest, SectionNamesAreTrimmed) {
  const IniFile ini(Write("[  Main Part  ]\nK=1\n  [X]  \nK=2\n[broken\nK=3\n"));
  EXPECT_EQ(ini.ReadInteger("Main Part", "K", 0), 1);
  EXPECT_EQ(ini.ReadInteger("X", "K", 0), 2);  // "[broken" is no header: K=3 is a duplicate
}

TEST_F(IniFileTest, ValuesAreDecodedFromCp1251) {
  // "Київ №5" in Windows-1251.
  const IniFile ini(Write("[Main]\nCity=\xCA\xE8\xBF\xE2 \xB9" "5\n"));
  EXPECT_EQ(ini.ReadString("Main", "City", "-"), "Київ №5");
}

TEST_F(IniFileTest, KeyWithoutEqualsOrNameIsIgnored) {
  const IniFile ini(Write("[Main]\njust text\n=orphan\nK=a=b\n"));
  EXPECT_EQ(ini.ReadString("Main", "just text", "-"), "-");
  EXPECT_EQ(ini.ReadString("Main", "", "-"), "-");
  EXPECT_EQ(ini.ReadString("Main", "K", "-"), "a=b");
}

}  // namespace
}  // namespace platform
