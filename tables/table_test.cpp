// Tests of the table operations on real files. Each test works in its own temporary directory,
// removed afterwards. They run as root in CI, so read-only files are files without write bits,
// which the platform treats as read-only even for root.
// The test sources are globbed on every system; this one uses fork() and compiles to nothing on
// Windows.
#if !defined(_WIN32)

#include "tables/table.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/os.h"
#include "tables/report_layout.h"
#include "tables/table_error.h"
#include "tables/table_set.h"
#include "tests/fixtures/dbf_image.h"

namespace tables {
namespace {

using fixtures::DbfImageBytes;
using fixtures::ImageColumn;
using fixtures::ImageOptions;
using fixtures::RecordBytes;

// The message of the TableError that `action` raises, or a text saying there was none.
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const TableError& error) {
    return error.what();
  }
  return "(no TableError)";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::vector<ImageColumn>& SampleColumns() {
  static const std::vector<ImageColumn> kColumns = {
      {"NP", 'N', 5, 0},     {"TIN", 'C', 10, 0},    {"OZN_DOX", 'N', 3, 0},
      {"S_DOX", 'N', 12, 2}, {"D_PRIYN", 'D', 8, 0}, {"FLAG", 'L', 1, 0},
  };
  return kColumns;
}

std::string SampleRecord(const std::vector<std::string>& texts, char flag = ' ') {
  return RecordBytes(SampleColumns(), texts, flag);
}

// NP numbers the records in file order. TIN keys in byte order: "" < "100" < "2" < "200" <
// "300" < the Cyrillic "КА1" (cp1251 bytes above ASCII). Record 7 is deleted.
std::vector<std::string> SampleRecords() {
  return {
      SampleRecord({"1", "300", "1", "1500.50", "20240131", "T"}),
      SampleRecord({"2", "100", "2", "-2.50", "", "F"}),
      SampleRecord({"3", "200", "1", "", "", "?"}),
      SampleRecord({"4", "100", "1", "7", "", ""}),
      SampleRecord({"5",
                    "\xCA\xC0"
                    "1",
                    "1", "", "", ""}),
      SampleRecord({"6", "2", "2", "", "", ""}),
      SampleRecord({"7", "100", "1", "", "", ""}, '*'),
      SampleRecord({"8", "", "1", "", "", ""}),
  };
}

class TableTest : public ::testing::Test {
 protected:
  TableTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "table_test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern + "/";
  }
  ~TableTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return dir_ + name; }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    platform::WriteWholeFile(Path(name), bytes);
  }
  std::string ReadFile(const std::string& name) const {
    return platform::ReadWholeFile(Path(name));
  }
  // Writes the sample table as `name` (dated 2001-02-03) and returns its bytes.
  std::string WriteSample(const std::string& name = "sample.dbf",
                          const ImageOptions& options = {}) const {
    const std::string bytes = DbfImageBytes(SampleColumns(), SampleRecords(), options);
    WriteFile(name, bytes);
    return bytes;
  }
  // Binds `table` to `name` in the test directory (no index, shared) without opening it.
  void Bind(Table& table, const std::string& name, const std::string& index = "",
            bool exclusive = false) const {
    table.SetDirectory(dir_);
    table.SetFileName(name);
    table.SetIndexName(index);
    table.SetExclusive(exclusive);
  }

  std::string dir_;
};

// NP of every visible record from First on, following Next; checks that Next on the last
// record stays there.
std::vector<std::int64_t> VisitNp(Table& table) {
  std::vector<std::int64_t> seen;
  table.First();
  const std::int64_t count = table.RecordCount();
  for (std::int64_t i = 0; i < count; ++i) {
    seen.push_back(table.FieldByName("NP").AsInteger());
    table.Next();
  }
  if (count > 0) {
    EXPECT_EQ(table.FieldByName("NP").AsInteger(), seen.back()) << "Next left the last record";
  }
  return seen;
}

using Nps = std::vector<std::int64_t>;

// ---------------------------------------------------------------------------------------------
// Settings, open and close

TEST_F(TableTest, SettingsChangeOnlyWhileClosed) {
  WriteSample();
  Table table("TableSorted");
  Bind(table, "sample.dbf");
  EXPECT_EQ(table.FilePath(), dir_ + "sample.dbf");
  table.Open();
  const std::vector<std::pair<const char*, std::function<void()>>> setters = {
      {"directory", [&] { table.SetDirectory("/elsewhere/"); }},
      {"file name", [&] { table.SetFileName("other.dbf"); }},
      {"exclusive", [&] { table.SetExclusive(true); }},
      {"index", [&] { table.SetIndexName("TIN"); }},
  };
  for (const auto& [name, set] : setters) {
    SCOPED_TRACE(name);
    const std::string message = ErrorOf(set);
    EXPECT_TRUE(Contains(message, "TableSorted")) << message;
    EXPECT_TRUE(Contains(message, name)) << message;
  }
  EXPECT_EQ(table.FilePath(), dir_ + "sample.dbf");
  EXPECT_FALSE(table.exclusive());
  EXPECT_EQ(table.index_name(), "");
  table.Close();
  for (const auto& [name, set] : setters) {
    SCOPED_TRACE(name);
    EXPECT_NO_THROW(set());
  }
  EXPECT_EQ(table.FilePath(), "/elsewhere/other.dbf");  // directory text + file name, as given
  EXPECT_TRUE(table.exclusive());
  EXPECT_EQ(table.index_name(), "TIN");
}

TEST_F(TableTest, OperationsOnAClosedTableRaise) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  Field np = table.FieldByName("NP");  // taken while open, used after closing
  table.Close();
  const std::vector<std::pair<const char*, std::function<void()>>> operations = {
      {"RecordCount", [&] { table.RecordCount(); }},
      {"First", [&] { table.First(); }},
      {"Next", [&] { table.Next(); }},
      {"Append", [&] { table.Append(); }},
      {"Edit", [&] { table.Edit(); }},
      {"Post", [&] { table.Post(); }},
      {"Empty", [&] { table.Empty(); }},
      {"FieldCount", [&] { table.FieldCount(); }},
      {"FieldName", [&] { table.FieldName(0); }},
      {"FieldAt", [&] { table.FieldAt(0); }},
      {"FieldByName", [&] { table.FieldByName("NP"); }},
      {"FindField", [&] { table.FindField("NP"); }},
      {"AsString", [&] { np.AsString(); }},
      {"AsInteger", [&] { np.AsInteger(); }},
      {"AsFloat", [&] { np.AsFloat(); }},
      {"AsValue", [&] { np.AsValue(); }},
      {"SetInteger", [&] { np.SetInteger(1); }},
      {"SetString", [&] { np.SetString("1"); }},
      {"Clear", [&] { np.Clear(); }},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    const std::string message = ErrorOf(operation);
    EXPECT_TRUE(Contains(message, "not open")) << message;
    EXPECT_TRUE(Contains(message, "sample.dbf")) << message;
  }
  EXPECT_FALSE(table.active());
}

TEST_F(TableTest, FilterSettersOnAClosedTableOnlyStore) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  // Neither fails although the text is no filter: it is parsed when the table opens.
  EXPECT_NO_THROW(table.SetFilter("OZN_DOX = = 1"));
  EXPECT_NO_THROW(table.SetFiltered(true));
  EXPECT_EQ(table.filter(), "OZN_DOX = = 1");
  EXPECT_TRUE(table.filtered());
  const std::string message = ErrorOf([&] { table.Open(); });
  EXPECT_TRUE(Contains(message, "OZN_DOX = = 1")) << message;
  EXPECT_FALSE(table.active());

  table.SetFilter("OZN_DOX=2");
  table.Open();
  EXPECT_EQ(VisitNp(table), (Nps{2, 6}));
}

TEST_F(TableTest, OpenFailuresRaiseNamingTheFile) {
  WriteSample();
  WriteFile("broken.dbf", WriteSample().substr(0, 100));
  struct Case {
    const char* name;
    std::string file;
    std::string index;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"missing file", "absent.dbf", "", "absent.dbf"},
      {"missing index column", "sample.dbf", "KOD", "KOD"},
      {"damaged file", "broken.dbf", "", "broken.dbf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table table("TableSorted");
    Bind(table, c.file, c.index);
    const std::string message = ErrorOf([&] { table.Open(); });
    EXPECT_TRUE(Contains(message, c.file)) << message;
    EXPECT_TRUE(Contains(message, c.says)) << message;
    EXPECT_FALSE(table.active());
  }
  // A failed open holds no lock.
  Table exclusive("TableSorted");
  Bind(exclusive, "sample.dbf", "", true);
  EXPECT_NO_THROW(exclusive.Open());
}

TEST_F(TableTest, ConflictingOpensInThisProcessRaise) {
  WriteSample();
  struct Case {
    bool first_exclusive;
    bool second_exclusive;
    bool second_opens;
  };
  const std::vector<Case> cases = {
      {false, false, true}, {false, true, false}, {true, false, false}, {true, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first_exclusive) + std::to_string(c.second_exclusive));
    Table first("Table1");
    Table second("TableRez");
    Bind(first, "sample.dbf", "", c.first_exclusive);
    Bind(second, "sample.dbf", "", c.second_exclusive);
    first.Open();
    if (c.second_opens) {
      EXPECT_NO_THROW(second.Open());
    } else {
      const std::string message = ErrorOf([&] { second.Open(); });
      EXPECT_TRUE(Contains(message, "TableRez")) << message;
      EXPECT_TRUE(Contains(message, "in use")) << message;
    }
    first.Close();
    EXPECT_NO_THROW(second.Open());  // free again once the first one closed
  }
}

// Exit codes of the child process that opens the table.
constexpr int kOpened = 0;
constexpr int kInUse = 10;
constexpr int kOtherTableError = 11;
constexpr int kUnexpected = 12;

// Opens `path` from a forked child process and returns how that went.
int OpenInChild(const std::string& directory, const std::string& name, bool exclusive) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = kUnexpected;
    try {
      Table table("Child");
      table.SetDirectory(directory);
      table.SetFileName(name);
      table.SetExclusive(exclusive);
      table.Open();
      code = kOpened;
    } catch (const TableError& error) {
      code = Contains(error.what(), "in use") ? kInUse : kOtherTableError;
    } catch (...) {
      code = kUnexpected;
    }
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(TableTest, ExclusiveOpenShutsOutAnotherProcess) {
  WriteSample();
  struct Case {
    bool ours_exclusive;
    bool theirs_exclusive;
    int expected;
  };
  const std::vector<Case> cases = {
      {true, false, kInUse}, {true, true, kInUse}, {false, true, kInUse}, {false, false, kOpened}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ours_exclusive) + std::to_string(c.theirs_exclusive));
    Table ours("TableSorted");
    Bind(ours, "sample.dbf", "", c.ours_exclusive);
    ours.Open();
    EXPECT_EQ(OpenInChild(dir_, "sample.dbf", c.theirs_exclusive), c.expected);
    ours.Close();
    EXPECT_EQ(OpenInChild(dir_, "sample.dbf", c.theirs_exclusive), kOpened);
  }
  EXPECT_EQ(OpenInChild(dir_, "absent.dbf", false), kOtherTableError);
}

TEST_F(TableTest, ReadOnlyFileOrSettingOpensReadOnlyAndRefusesChanges) {
  // A file without write permission, and a writable file opened by a table set read-only.
  for (const bool by_setting : {false, true}) {
    SCOPED_TRACE(by_setting ? "read-only setting" : "read-only file");
    const std::string bytes = WriteSample();
    ASSERT_EQ(::chmod(Path("sample.dbf").c_str(), by_setting ? 0644 : 0444), 0);
    Table table("Table1");
    Bind(table, "sample.dbf");
    table.SetReadOnly(by_setting);
    table.Open();
    EXPECT_TRUE(table.read_only());
    EXPECT_EQ(table.RecordCount(), 7);
    EXPECT_EQ(table.FieldByName("TIN").AsString(), "300");
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"Append", [&] { table.Append(); }},
        {"Edit", [&] { table.Edit(); }},
        {"Post", [&] { table.Post(); }},
        {"Empty", [&] { table.Empty(); }},
    };
    for (const auto& [name, change] : changes) {
      SCOPED_TRACE(name);
      const std::string message = ErrorOf(change);
      EXPECT_TRUE(Contains(message, "sample.dbf")) << message;
    }
    EXPECT_TRUE(Contains(ErrorOf([&] { table.Append(); }), "read-only"));
    EXPECT_EQ(table.RecordCount(), 7);
    table.Close();
    EXPECT_EQ(ReadFile("sample.dbf"), bytes);
    ::chmod(Path("sample.dbf").c_str(), 0644);
  }
}

TEST_F(TableTest, CloseWritesBackOnlyWhenChanged) {
  ImageOptions options;
  options.code_page_byte = 0x65;
  options.extra_header_bytes = 4;
  const std::string bytes = WriteSample("sample.dbf", options);
  Table table("Table1");
  Bind(table, "sample.dbf", "TIN");
  table.Open();
  VisitNp(table);
  table.SetFilter("OZN_DOX=1");
  table.SetFiltered(true);
  table.Append();
  table.FieldByName("NP").SetInteger(9);
  table.Cancel();
  table.Close();
  EXPECT_EQ(ReadFile("sample.dbf"), bytes);  // date 2001-02-03 untouched

  const platform::LocalTime before = platform::Now();
  table.Open();
  table.First();
  table.Edit();
  table.FieldByName("S_DOX").SetFloat(12.5);
  table.Post();
  table.Close();
  const platform::LocalTime after = platform::Now();
  const std::string written = ReadFile("sample.dbf");
  ASSERT_EQ(written.size(), bytes.size());
  const auto is_date = [&](const platform::LocalTime& t) {
    return written.substr(1, 3) == std::string{static_cast<char>(t.year - 1900),
                                               static_cast<char>(t.month),
                                               static_cast<char>(t.day)};
  };
  EXPECT_TRUE(is_date(before) || is_date(after));
  // Everything but the date and the edited column stays: code page byte, extra header bytes,
  // the other records, the deleted one included. The filter (kept from before) and the index
  // make record 8 (blank TIN) the first one.
  std::string expected = bytes;
  const std::size_t s_dox = fixtures::HeaderLengthOf(SampleColumns(), options) +
                            7 * fixtures::RecordLengthOf(SampleColumns()) + 1 + 5 + 10 + 3;
  expected.replace(s_dox, 12, "       12.50");
  EXPECT_EQ(written[0], expected[0]);
  EXPECT_EQ(written.substr(4), expected.substr(4));
}

TEST_F(TableTest, FlushWritesBackNowAndKeepsTheTableLocked) {
  const std::string bytes = WriteSample();
  Table table("TableSorted");
  Bind(table, "sample.dbf", "TIN", true);
  table.Open();
  table.Flush();  // nothing changed: nothing written
  EXPECT_EQ(ReadFile("sample.dbf"), bytes);

  table.Append();
  table.FieldByName("NP").SetInteger(9);
  table.Post();
  table.Append();  // being appended: not part of what is flushed
  table.FieldByName("NP").SetInteger(10);
  table.Flush();
  const std::string flushed = ReadFile("sample.dbf");
  EXPECT_EQ(flushed.size(), bytes.size() + fixtures::RecordLengthOf(SampleColumns()));
  EXPECT_EQ(OpenInChild(dir_, "sample.dbf", false), kInUse);

  table.Cancel();
  table.Close();  // nothing changed since the flush
  EXPECT_EQ(ReadFile("sample.dbf"), flushed);
}

// ---------------------------------------------------------------------------------------------
// Creating, appending, reading back

TEST_F(TableTest, CreatedReportTableRoundTrips) {
  const std::string path = Path("report.dbf");
  Table::Create(path, ReportColumns(), kReportCodePageByte);
  Table table("TableRez");
  Bind(table, "report.dbf");
  table.Open();
  ASSERT_EQ(table.FieldCount(), static_cast<int>(ReportColumns().size()));
  EXPECT_EQ(table.RecordCount(), 0);

  struct Row {
    std::int64_t np;
    std::string tin;
    double s_dox;
    std::string s_taxp;
    std::string d_priyn;
    std::int64_t ozn_dox;
  };
  const std::vector<Row> rows = {
      {1, "КА123456", 1500.5, "-12.34", "01.02.2024", 101},
      {99990, "9999999999", 999999999.99, "0", "", 999},
      {2, "", 0, "", "29.02.2024", 0},
  };
  for (const Row& row : rows) {
    table.Append();
    table.FieldByName("np").SetInteger(row.np);
    table.FieldByName("TIN").SetString(row.tin);
    table.FieldByName("S_DOX").SetFloat(row.s_dox);
    table.FieldByName("S_TAXP").SetString(row.s_taxp);
    table.FieldByName("D_PRIYN").SetString(row.d_priyn);
    table.FieldByName("OZN_DOX").SetInteger(row.ozn_dox);
    table.FieldByName("KOD").SetString("ABCDEFGHIJ");
    table.Post();
  }
  EXPECT_EQ(table.RecordCount(), 3);
  table.Close();

  std::size_t record_length = 1;
  for (const FieldSpec& spec : ReportColumns())
    record_length += static_cast<std::size_t>(spec.width);
  const std::size_t header_length = 32 + 32 * ReportColumns().size() + 1;
  const std::string bytes = ReadFile("report.dbf");
  ASSERT_EQ(bytes.size(), header_length + 3 * record_length + 1);
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  EXPECT_EQ(u16(8), header_length);
  EXPECT_EQ(u16(10), record_length);
  EXPECT_EQ(bytes[header_length - 1], 0x0D);
  EXPECT_EQ(bytes.back(), 0x1A);
  EXPECT_EQ(static_cast<unsigned char>(bytes[29]), kReportCodePageByte);
  EXPECT_EQ(bytes.substr(4, 4), std::string("\x03\x00\x00\x00", 4));

  table.Open();
  table.First();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.np);
    EXPECT_EQ(table.FieldByName("NP").AsInteger(), row.np);
    EXPECT_EQ(table.FieldByName("TIN").AsString(), row.tin);
    EXPECT_DOUBLE_EQ(table.FieldByName("S_DOX").AsFloat(), row.s_dox);
    EXPECT_EQ(table.FieldByName("S_TAXP").AsString(), row.s_taxp);
    EXPECT_EQ(table.FieldByName("D_PRIYN").AsString(), row.d_priyn);
    EXPECT_EQ(table.FieldByName("OZN_DOX").AsInteger(), row.ozn_dox);
    EXPECT_EQ(table.FieldByName("KOD").AsString(), "ABCDEFGHIJ");
    EXPECT_EQ(table.FieldByName("D_ZVILN").AsString(), "");
    EXPECT_EQ(table.FieldByName("OZN_PILG").AsInteger(), 0);
    table.Next();
  }
}

TEST_F(TableTest, AppendEditPostAndCancel) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();

  table.Append();  // a blank record, readable while it is being appended
  EXPECT_EQ(table.FieldByName("NP").AsString(), "");
  EXPECT_EQ(table.FieldByName("FLAG").AsString(), "");
  table.FieldByName("NP").SetInteger(9);
  table.FieldByName("TIN").SetString("900");
  EXPECT_EQ(table.FieldByName("TIN").AsString(), "900");
  EXPECT_EQ(table.RecordCount(), 7);  // not yet stored
  table.Post();
  EXPECT_EQ(table.RecordCount(), 8);
  EXPECT_EQ(table.FieldByName("NP").AsInteger(), 9);  // the new record is the current one

  table.Append();
  table.FieldByName("NP").SetInteger(10);
  table.Cancel();
  table.Append();
  table.FieldByName("NP").SetInteger(11);
  table.First();  // posts the pending record
  EXPECT_EQ(VisitNp(table), (Nps{1, 2, 3, 4, 5, 6, 8, 9, 11}));

  table.First();
  table.Next();
  table.Edit();
  table.FieldByName("TIN").SetString("ABC");
  table.Cancel();
  EXPECT_EQ(table.FieldByName("TIN").AsString(), "100");
  table.Edit();
  table.FieldByName("TIN").SetString("ABC");
  table.Next();  // posts the edit
  table.First();
  table.Next();
  EXPECT_EQ(table.FieldByName("TIN").AsString(), "ABC");

  const std::vector<std::pair<const char*, std::function<void()>>> misuses = {
      {"Post without Append or Edit", [&] { table.Post(); }},
      {"write without Append or Edit", [&] { table.FieldByName("NP").SetInteger(1); }},
      {"clear without Append or Edit", [&] { table.FieldByName("NP").Clear(); }},
  };
  for (const auto& [name, misuse] : misuses) {
    SCOPED_TRACE(name);
    const std::string message = ErrorOf(misuse);
    EXPECT_TRUE(Contains(message, "sample.dbf")) << message;
    EXPECT_TRUE(Contains(message, "appended or edited")) << message;
  }
}

TEST_F(TableTest, EmptyRemovesEveryRecordAndKeepsTheColumns) {
  const std::string bytes = WriteSample();
  const std::size_t header_length = fixtures::HeaderLengthOf(SampleColumns());
  Table table("TableRez");
  Bind(table, "sample.dbf", "TIN");
  table.Open();
  table.Empty();
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(table.FieldCount(), 6);
  EXPECT_EQ(VisitNp(table), Nps{});
  table.Close();
  const std::string written = ReadFile("sample.dbf");
  ASSERT_EQ(written.size(), header_length + 1);
  EXPECT_EQ(written.substr(4, 4), std::string(4, '\0'));
  EXPECT_EQ(written.substr(8, header_length - 8), bytes.substr(8, header_length - 8));
  EXPECT_EQ(written.back(), 0x1A);

  table.Open();
  table.Append();
  table.FieldByName("TIN").SetString("5");
  table.Post();
  EXPECT_EQ(table.RecordCount(), 1);
}

// ---------------------------------------------------------------------------------------------
// Navigation, index, filters

TEST_F(TableTest, VisitsInFileOrderOrInIndexOrder) {
  WriteSample();
  struct Case {
    const char* index;
    Nps expected;
  };
  // Ties ("100": records 2 and 4) keep insertion order; the deleted record 7 never shows.
  const std::vector<Case> cases = {
      {"", {1, 2, 3, 4, 5, 6, 8}},
      {"TIN", {8, 2, 4, 6, 3, 1, 5}},
      {"tin", {8, 2, 4, 6, 3, 1, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    Table table("TableSorted");
    Bind(table, "sample.dbf", c.index);
    table.Open();
    EXPECT_EQ(table.RecordCount(), 7);
    EXPECT_EQ(VisitNp(table), c.expected);
  }
}

TEST_F(TableTest, IndexOrderFollowsAppendsAndKeyEdits) {
  WriteSample();
  Table table("TableSorted");
  Bind(table, "sample.dbf", "TIN");
  table.Open();
  for (const auto& [np, tin] :
       std::vector<std::pair<int, const char*>>{{9, "100"}, {10, "0"}, {11, "250"}}) {
    table.Append();
    table.FieldByName("NP").SetInteger(np);
    table.FieldByName("TIN").SetString(tin);
    table.Post();
    EXPECT_EQ(table.FieldByName("NP").AsInteger(), np);  // stays on the new record
  }
  table.Next();  // from record 11 ("250") to the next key, "300"
  EXPECT_EQ(table.FieldByName("NP").AsInteger(), 1);
  EXPECT_EQ(VisitNp(table), (Nps{8, 10, 2, 4, 9, 6, 3, 11, 1, 5}));

  // Changing a key moves the record; the moved record stays current.
  table.First();
  table.Next();  // record 10, "0"
  table.Edit();
  table.FieldByName("TIN").SetString("999");
  table.Post();
  table.Next();
  EXPECT_EQ(table.FieldByName("NP").AsInteger(), 5);
  EXPECT_EQ(VisitNp(table), (Nps{8, 2, 4, 9, 6, 3, 11, 1, 10, 5}));
}

TEST_F(TableTest, FilterNarrowsCountAndNavigation) {
  WriteSample();
  struct Case {
    const char* index;
    const char* filter;
    Nps expected;
  };
  const std::vector<Case> cases = {
      {"", "OZN_DOX=1", {1, 3, 4, 5, 8}},
      {"TIN", "OZN_DOX=1", {8, 4, 3, 1, 5}},
      {"TIN", "TIN='100'", {2, 4}},
      {"", "TIN='100' AND OZN_DOX=1", {4}},
      {"TIN", "OZN_DOX=2 OR TIN='300'", {2, 6, 1}},
      {"", "TIN='КА1'", {5}},
      {"", "TIN='none'", {}},
      {"", "", {1, 2, 3, 4, 5, 6, 8}},  // an empty filter filters nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.index) + " / " + c.filter);
    Table table("Table1");
    Bind(table, "sample.dbf", c.index);
    table.Open();
    table.SetFilter(c.filter);
    table.SetFiltered(true);
    EXPECT_EQ(table.RecordCount(), static_cast<std::int64_t>(c.expected.size()));
    EXPECT_EQ(VisitNp(table), c.expected);
    table.SetFiltered(false);
    EXPECT_EQ(table.RecordCount(), 7);
  }
}

TEST_F(TableTest, SwitchingTheFilterMovesToTheFirstMatchingRecord) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  table.SetFilter("OZN_DOX=2");  // stored, not applied: the flag is off
  EXPECT_EQ(table.RecordCount(), 7);
  table.Next();
  table.Next();
  table.SetFiltered(true);
  EXPECT_EQ(table.FieldByName("NP").AsInteger(), 2);
  table.Next();
  table.SetFilter("OZN_DOX=1");  // a new text on a filtered table applies at once
  EXPECT_EQ(table.FieldByName("NP").AsInteger(), 1);
  EXPECT_EQ(table.RecordCount(), 5);

  const std::string message = ErrorOf([&] { table.SetFilter("NOPE=1"); });
  EXPECT_TRUE(Contains(message, "NOPE")) << message;
  EXPECT_EQ(table.filter(), "OZN_DOX=1");  // the old filter stays in force
  EXPECT_EQ(table.RecordCount(), 5);
  EXPECT_THROW(table.SetFilter("OZN_DOX="), TableError);

  table.Next();
  table.SetFiltered(false);
  EXPECT_EQ(table.FieldByName("NP").AsInteger(), 1);
  EXPECT_EQ(table.RecordCount(), 7);
}

TEST_F(TableTest, TinFilterIsAnsweredFromTheIndex) {
  WriteSample();
  struct Case {
    const char* index;
    const char* filter;
    std::int64_t visible;
    std::uint64_t examined;
  };
  const std::vector<Case> cases = {
      {"TIN", "TIN='100'", 2, 2},  // records 2 and 4 only
      {"TIN", "TIN='100' AND OZN_DOX=1", 1, 2},
      {"TIN", "(OZN_DOX=1 AND TIN='100')", 1, 2},
      {"TIN", "TIN='absent'", 0, 0},
      {"TIN", "OZN_DOX=1", 5, 7},               // no TIN condition: a scan
      {"TIN", "TIN='100' OR OZN_DOX=2", 3, 7},  // not a conjunction: a scan
      {"TIN", "TIN='10*'", 2, 7},               // a prefix: a scan
      {"", "TIN='100'", 2, 7},                  // no index: a scan
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.index) + " / " + c.filter);
    Table table("TableSorted");
    Bind(table, "sample.dbf", c.index);
    table.Open();
    EXPECT_EQ(table.records_examined(), 0u);
    table.SetFilter(c.filter);
    table.SetFiltered(true);
    EXPECT_EQ(table.RecordCount(), c.visible);
    EXPECT_EQ(table.records_examined(), c.examined);
  }
}

TEST_F(TableTest, DeletedRecordsAreInvisibleAndSurviveAWriteBack) {
  std::vector<std::string> records = SampleRecords();
  records[0][0] = '#';  // a flag byte other than ' ' or '*': live
  records[2][0] = '*';
  WriteFile("sample.dbf", DbfImageBytes(SampleColumns(), records));
  Table table("TableSorted");
  Bind(table, "sample.dbf", "TIN");
  table.Open();
  EXPECT_EQ(table.RecordCount(), 6);
  EXPECT_EQ(VisitNp(table), (Nps{8, 2, 4, 6, 1, 5}));
  table.SetFilter("TIN='100'");
  table.SetFiltered(true);
  EXPECT_EQ(VisitNp(table), (Nps{2, 4}));
  table.Append();
  table.FieldByName("NP").SetInteger(9);
  table.FieldByName("TIN").SetString("100");
  table.Post();
  EXPECT_EQ(VisitNp(table), (Nps{2, 4, 9}));
  table.Close();

  const std::string written = ReadFile("sample.dbf");
  const std::size_t header_length = fixtures::HeaderLengthOf(SampleColumns());
  const std::size_t record_length = fixtures::RecordLengthOf(SampleColumns());
  ASSERT_EQ(written.size(), header_length + 9 * record_length + 1);
  EXPECT_EQ(written[4], 9);
  for (std::size_t r = 0; r < records.size(); ++r) {
    EXPECT_EQ(written.substr(header_length + r * record_length, record_length), records[r]) << r;
  }
}

// ---------------------------------------------------------------------------------------------
// Columns: lookup, reads, writes

TEST_F(TableTest, ColumnsByNameAndPosition) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  EXPECT_EQ(table.FieldCount(), 6);
  EXPECT_EQ(table.FieldName(0), "NP");
  EXPECT_EQ(table.FieldName(5), "FLAG");
  EXPECT_EQ(table.FindField("s_dox"), 3);
  EXPECT_EQ(table.FindField("S_DO"), -1);
  EXPECT_EQ(table.FieldByName("Ozn_Dox").name(), "OZN_DOX");
  EXPECT_EQ(table.FieldAt(4).type(), 'D');
  const std::vector<std::pair<const char*, std::function<void()>>> misses = {
      {"FieldByName", [&] { table.FieldByName("KOD"); }},
      {"FieldName(-1)", [&] { table.FieldName(-1); }},
      {"FieldName(6)", [&] { table.FieldName(6); }},
      {"FieldAt(6)", [&] { table.FieldAt(6); }},
  };
  for (const auto& [name, miss] : misses) {
    SCOPED_TRACE(name);
    const std::string message = ErrorOf(miss);
    EXPECT_TRUE(Contains(message, "sample.dbf")) << message;
  }
  EXPECT_TRUE(Contains(ErrorOf([&] { table.FieldByName("KOD"); }), "'KOD'"));
}

TEST_F(TableTest, ReadsEachColumnAsEachType) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  struct Case {
    int record;  // position in file order, 0-based among visible records
    const char* column;
    const char* text;
    std::int64_t integer;  // unused when `raises`
    double real;
    bool raises;  // AsInteger and AsFloat raise (dates, text that is no number)
  };
  const std::vector<Case> cases = {
      {0, "NP", "1", 1, 1.0, false},
      {0, "TIN", "300", 300, 300.0, false},
      {0, "S_DOX", "1500.5", 1501, 1500.5, false},  // rounded half away from zero
      {1, "S_DOX", "-2.5", -3, -2.5, false},
      {0, "D_PRIYN", "31.01.2024", 0, 0, true},
      {0, "FLAG", "T", 1, 1.0, false},
      {1, "FLAG", "F", 0, 0.0, false},
      {2, "FLAG", "", 0, 0.0, false},  // '?' is unknown: blank
      {2, "S_DOX", "", 0, 0.0, false},
      {2, "D_PRIYN", "", 0, 0.0, false},
      {4, "TIN", "КА1", 0, 0, true},
      {6, "TIN", "", 0, 0.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " of record " + std::to_string(c.record));
    table.First();
    for (int i = 0; i < c.record; ++i) table.Next();
    Field field = table.FieldByName(c.column);
    EXPECT_EQ(field.AsString(), c.text);
    if (c.raises) {
      EXPECT_THROW(field.AsInteger(), TableError);
      EXPECT_THROW(field.AsFloat(), TableError);
    } else {
      EXPECT_EQ(field.AsInteger(), c.integer);
      EXPECT_DOUBLE_EQ(field.AsFloat(), c.real);
    }
  }
  table.First();
  const Value date = table.FieldByName("D_PRIYN").AsValue();
  ASSERT_EQ(date.kind(), Value::Kind::kDate);
  EXPECT_TRUE(date.date() == (Date{2024, 1, 31}));
  EXPECT_EQ(table.FieldByName("NP").AsValue().kind(), Value::Kind::kInteger);
  EXPECT_EQ(table.FieldByName("S_DOX").AsValue().kind(), Value::Kind::kFloat);
}

TEST_F(TableTest, MalformedValuesRaiseNamingFileColumnAndRecord) {
  std::vector<std::string> records = SampleRecords();
  records[1] = SampleRecord({"2", "100", "2", "12abc", "20230229", "F"});
  WriteFile("sample.dbf", DbfImageBytes(SampleColumns(), records));
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  table.Next();
  for (const char* column : {"S_DOX", "D_PRIYN"}) {
    SCOPED_TRACE(column);
    const std::string message = ErrorOf([&] { table.FieldByName(column).AsString(); });
    EXPECT_TRUE(Contains(message, "sample.dbf")) << message;
    EXPECT_TRUE(Contains(message, column)) << message;
    EXPECT_TRUE(Contains(message, "record 2")) << message;
  }
  // A filter that must read the bad value raises when it is switched on.
  table.SetFilter("S_DOX=1");
  const std::string message = ErrorOf([&] { table.SetFiltered(true); });
  EXPECT_TRUE(Contains(message, "record 2")) << message;
  EXPECT_TRUE(Contains(message, "12abc")) << message;
}

TEST_F(TableTest, WithNoCurrentRecordEveryColumnReadsBlank) {
  WriteSample();
  WriteFile("empty.dbf", DbfImageBytes(SampleColumns(), {}));
  struct Case {
    const char* file;
    const char* filter;
  };
  for (const Case& c : {Case{"empty.dbf", ""}, Case{"sample.dbf", "TIN='none'"}}) {
    SCOPED_TRACE(c.file);
    Table table("Table1");
    Bind(table, c.file);
    table.Open();
    table.SetFilter(c.filter);
    table.SetFiltered(true);
    table.First();
    table.Next();
    for (int i = 0; i < table.FieldCount(); ++i) {
      Field field = table.FieldAt(i);
      SCOPED_TRACE(field.name());
      EXPECT_EQ(field.AsString(), "");
      EXPECT_EQ(field.AsInteger(), 0);
      EXPECT_EQ(field.AsFloat(), 0.0);
      EXPECT_TRUE(field.AsValue().blank());
    }
    const std::string message = ErrorOf([&] { table.Edit(); });
    EXPECT_TRUE(Contains(message, "no current record")) << message;
  }
}

TEST_F(TableTest, WritesConvertToTheColumnTypeOrRaise) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  table.First();
  table.Edit();
  struct Case {
    const char* column;
    std::function<void(Field)> write;
    const char* text;  // AsString afterwards; nullptr: the write raises
  };
  const std::vector<Case> cases = {
      {"NP", [](Field f) { f.SetString("42"); }, "42"},
      {"NP", [](Field f) { f.SetFloat(41.5); }, "42"},
      {"NP", [](Field f) { f.SetValue(Value()); }, ""},
      {"NP", [](Field f) { f.SetInteger(123456); }, nullptr},
      {"TIN", [](Field f) { f.SetInteger(1234567890); }, "1234567890"},
      {"TIN", [](Field f) { f.SetString("КА123456"); }, "КА123456"},
      {"TIN", [](Field f) { f.SetString(""); }, ""},
      {"TIN", [](Field f) { f.SetString("12345678901"); }, nullptr},
      {"TIN", [](Field f) { f.SetInteger(12345678901); }, nullptr},
      {"S_DOX", [](Field f) { f.SetString("1500,5"); }, "1500.5"},
      {"S_DOX", [](Field f) { f.SetFloat(0.125); }, "0.13"},
      {"S_DOX", [](Field f) { f.Clear(); }, ""},
      {"S_DOX", [](Field f) { f.SetString("abc"); }, nullptr},
      {"S_DOX", [](Field f) { f.SetFloat(1e15); }, nullptr},
      {"D_PRIYN", [](Field f) { f.SetString("1.2.2024"); }, "01.02.2024"},
      {"D_PRIYN",
       [](Field f) {
         f.SetValue(Value::FromDate({2024, 2, 29}));
       },
       "29.02.2024"},
      {"D_PRIYN", [](Field f) { f.SetString(""); }, ""},
      {"D_PRIYN", [](Field f) { f.SetString("30.02.2024"); }, nullptr},
      {"D_PRIYN", [](Field f) { f.SetInteger(20240131); }, nullptr},
      {"FLAG", [](Field f) { f.SetString("T"); }, "T"},
      {"FLAG", [](Field f) { f.SetInteger(0); }, "F"},
      {"FLAG", [](Field f) { f.Clear(); }, ""},
      {"FLAG", [](Field f) { f.SetInteger(7); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column + std::string(" -> ") + (c.text ? c.text : "(raises)"));
    Field field = table.FieldByName(c.column);
    if (c.text != nullptr) {
      c.write(field);
      EXPECT_EQ(field.AsString(), c.text);
    } else {
      const std::string before = field.AsString();
      const std::string message = ErrorOf([&] { c.write(field); });
      EXPECT_TRUE(Contains(message, "sample.dbf")) << message;
      EXPECT_TRUE(Contains(message, c.column)) << message;
      EXPECT_EQ(field.AsString(), before);  // a failed write changes nothing
    }
  }
}

TEST_F(TableTest, ValuesTravelBetweenTablesOfDifferentLayouts) {
  const std::vector<ImageColumn> source_columns = {{"NP", 'N', 5, 0},
                                                   {"TIN", 'C', 10, 0},
                                                   {"S_DOX", 'C', 12, 0},
                                                   {"D_PRIYN", 'D', 8, 0},
                                                   {"D_ZVILN", 'C', 10, 0}};
  WriteFile(
      "source.dbf",
      DbfImageBytes(
          source_columns,
          {RecordBytes(source_columns, {"42", "0123456789", "1500,5", "20240131", "15.03.2024"}),
           RecordBytes(source_columns, {"", "", "", "", ""}),
           RecordBytes(source_columns, {"12345", "КА12", "abc", "", "31.02.2024"})}));
  // Other order, other types: C->N (TIN, S_DOX), N->C (NP), D->C (D_PRIYN), C->D (D_ZVILN).
  Table::Create(Path("target.dbf"),
                {{"D_ZVILN", 'D', 8, 0},
                 {"EXTRA", 'C', 3, 0},
                 {"S_DOX", 'N', 12, 2},
                 {"D_PRIYN", 'C', 10, 0},
                 {"NP", 'C', 4, 0},
                 {"TIN", 'N', 10, 0}},
                kReportCodePageByte);
  Table source("Table1");
  Table target("TableRez");
  Bind(source, "source.dbf");
  Bind(target, "target.dbf", "", true);
  source.Open();
  target.Open();
  const auto copy_row = [&] {
    target.Append();
    for (int i = 0; i < source.FieldCount(); ++i) {
      target.FieldByName(source.FieldName(i)).SetValue(source.FieldAt(i).AsValue());
    }
    target.Post();
  };

  source.First();
  copy_row();
  const std::vector<std::pair<const char*, const char*>> expected = {{"NP", "42"},
                                                                     {"TIN", "123456789"},
                                                                     {"S_DOX", "1500.5"},
                                                                     {"D_PRIYN", "31.01.2024"},
                                                                     {"D_ZVILN", "15.03.2024"},
                                                                     {"EXTRA", ""}};
  for (const auto& [column, text] : expected) {
    EXPECT_EQ(target.FieldByName(column).AsString(), text) << column;
  }
  EXPECT_EQ(target.FieldByName("D_ZVILN").AsValue().kind(), Value::Kind::kDate);

  source.Next();  // all blank: every target column is cleared
  copy_row();
  for (int i = 0; i < target.FieldCount(); ++i) {
    EXPECT_EQ(target.FieldAt(i).AsString(), "") << target.FieldName(i);
  }

  source.Next();
  target.Append();
  for (const char* column : {"NP", "TIN", "S_DOX", "D_ZVILN"}) {
    SCOPED_TRACE(column);
    const std::string message =
        ErrorOf([&] { target.FieldByName(column).SetValue(source.FieldByName(column).AsValue()); });
    EXPECT_TRUE(Contains(message, "target.dbf")) << message;
    EXPECT_TRUE(Contains(message, column)) << message;
  }
  target.Cancel();
  target.Close();

  target.Open();
  EXPECT_EQ(target.RecordCount(), 2);
  EXPECT_EQ(target.FieldByName("S_DOX").AsFloat(), 1500.5);
  EXPECT_EQ(target.FieldByName("TIN").AsInteger(), 123456789);
}

// An edit stores into the record that Edit started on, even when the view was rebuilt meanwhile
// (here by counting under a filter that the edited, freshly appended record does not match).
TEST_F(TableTest, EditStoresIntoTheRecordItStartedOn) {
  WriteSample();
  Table table("Table1");
  Bind(table, "sample.dbf");
  table.Open();
  table.SetFilter("OZN_DOX=1");
  table.SetFiltered(true);
  table.Append();
  table.FieldByName("NP").SetInteger(9);
  table.FieldByName("OZN_DOX").SetInteger(3);
  table.Post();
  table.Edit();
  table.FieldByName("TIN").SetString("EDITED");
  EXPECT_EQ(table.RecordCount(), 5);
  table.Post();
  table.SetFiltered(false);
  std::vector<std::string> tins;
  table.First();
  for (std::int64_t i = 0; i < table.RecordCount(); ++i, table.Next()) {
    tins.push_back(table.FieldByName("TIN").AsString());
  }
  EXPECT_EQ(tins, (std::vector<std::string>{"300", "100", "200", "100", "КА1", "2", "", "EDITED"}));
}

// ---------------------------------------------------------------------------------------------
// Existing files of other writers, and the table set

TEST_F(TableTest, RewriteKeepsTheHeaderOfAnExistingFile) {
  ImageOptions options;
  options.version = 0x30;  // Visual FoxPro, with its 263-byte backlink in the header
  options.extra_header_bytes = 263;
  options.code_page_byte = 0x65;
  const std::string bytes = WriteSample("fox.dbf", options);
  const std::size_t header_length = fixtures::HeaderLengthOf(SampleColumns(), options);
  const std::size_t record_length = fixtures::RecordLengthOf(SampleColumns());
  Table table("Table1");
  Bind(table, "fox.dbf");
  table.Open();
  table.Append();
  table.FieldByName("TIN").SetString("ЖЁ");
  table.Post();
  table.Close();

  const std::string written = ReadFile("fox.dbf");
  ASSERT_EQ(written.size(), header_length + 9 * record_length + 1);
  EXPECT_EQ(written[0], 0x30);
  EXPECT_EQ(written.substr(8, header_length - 8), bytes.substr(8, header_length - 8));
  EXPECT_EQ(written.substr(4, 4), std::string("\x09\x00\x00\x00", 4));
  EXPECT_EQ(written.substr(header_length, 8 * record_length),
            bytes.substr(header_length, 8 * record_length));
  // The new text is in the file's own code page, 866.
  EXPECT_EQ(written.substr(header_length + 8 * record_length + 6, 3), "\x86\xF0 ");
  EXPECT_EQ(written.back(), 0x1A);
}

TEST_F(TableTest, DataModuleBindsTheInstalledTables) {
  TDataModule1 module;
  struct Case {
    Table* table;
    const char* name;
    const char* file;
    bool exclusive;
    bool read_only;
    const char* index;
  };
  const std::vector<Case> cases = {
      {&module.Table1, "Table1", "template.dbf", false, true, ""},
      {&module.TableSorted, "TableSorted", "sorted.DBF", true, false, "TIN"},
      {&module.TableRez, "TableRez", "template.dbf", true, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.table->component_name(), c.name);
    EXPECT_EQ(c.table->directory(), "./");
    EXPECT_EQ(c.table->file_name(), c.file);
    EXPECT_EQ(c.table->FilePath(), std::string("./") + c.file);
    EXPECT_EQ(c.table->exclusive(), c.exclusive);
    EXPECT_EQ(c.table->read_only_setting(), c.read_only);
    EXPECT_EQ(c.table->index_name(), c.index);
    EXPECT_FALSE(c.table->active());
    EXPECT_EQ(c.table->filter(), "");
    EXPECT_FALSE(c.table->filtered());
  }
  // The work table's index works on the report layout.
  Table::Create(Path("sorted.DBF"), ReportColumns(), kReportCodePageByte);
  module.TableSorted.SetDirectory(dir_);
  module.TableSorted.Open();
  for (const char* tin : {"2", "1", "КА1"}) {
    module.TableSorted.Append();
    module.TableSorted.FieldByName(kColumnTIN).SetString(tin);
  }
  module.TableSorted.First();
  std::vector<std::string> tins;
  for (int i = 0; i < 3; ++i, module.TableSorted.Next()) {
    tins.push_back(module.TableSorted.FieldByName(kColumnTIN).AsString());
  }
  EXPECT_EQ(tins, (std::vector<std::string>{"1", "2", "КА1"}));
}

}  // namespace
}  // namespace tables

#endif  // !defined(_WIN32)
