#include "merge/match_filter.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tables/report_layout.h"
#include "tables/table_error.h"

namespace merge {
namespace {

MatchKey Key(std::string tin, std::int64_t kind, std::string hired, std::string dismissed,
             std::string benefit) {
  MatchKey key;
  key.tin = std::move(tin);
  key.income_kind = kind;
  key.hire_date = std::move(hired);
  key.dismissal_date = std::move(dismissed);
  key.benefit_code = std::move(benefit);
  return key;
}

struct FilterCase {
  const char* name;
  MatchKey key;
  const char* expected;
};

TEST(MatchFilterTest, FilterTexts) {
  const FilterCase cases[] = {
      {"worked example", Key("0123456789", 1, "", "15.03.2010", "1"),
       "TIN='0123456789' and OZN_PILG=1 AND D_PRIYN IS NULL  AND ((D_ZVILN IS NULL) OR "
       "(D_ZVILN='15.03.2010')) AND (OZN_DOX=1 OR OZN_DOX=2)"},
      {"all empty, kind 101", Key("0123456789", 101, "", "", ""),
       "TIN='0123456789' and OZN_PILG IS NULL AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=101)"},
      {"kind 2 with a hire date", Key("0123456789", 2, "01.02.2009", "", ""),
       "TIN='0123456789' and OZN_PILG IS NULL AND D_PRIYN='01.02.2009' AND  (D_ZVILN IS NULL)  "
       "AND (OZN_DOX=2 OR OZN_DOX=1)"},
      {"kind 22 with a benefit code", Key("0123456789", 22, "", "", "3"),
       "TIN='0123456789' and OZN_PILG=3 AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=22)"},
      {"blank-only benefit code", Key("0123456789", 1, "", "", TrimControlCharacters(" \t\r ")),
       "TIN='0123456789' and OZN_PILG IS NULL AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=1 OR OZN_DOX=2)"},
      {"negative and decimal codes stay numbers", Key("1", 3, "", "", "-1.5"),
       "TIN='1' and OZN_PILG=-1.5 AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND (OZN_DOX=3)"},
      // Values that would change what the filter means are written as literal constants.
      {"quote in the TIN", Key("12'4567890", 101, "", "", ""),
       "TIN='12''4567890' and OZN_PILG IS NULL AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=101)"},
      {"trailing star in the TIN", Key("1234*", 101, "", "", ""),
       "TIN='1234**' and OZN_PILG IS NULL AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=101)"},
      {"inner star in the TIN", Key("12*4", 101, "", "", ""),
       "TIN='12*4' and OZN_PILG IS NULL AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=101)"},
      {"quotes in the dates", Key("1", 101, "01.02'2009", "'", ""),
       "TIN='1' and OZN_PILG IS NULL AND D_PRIYN='01.02''2009' AND ((D_ZVILN IS NULL) OR "
       "(D_ZVILN='''')) AND (OZN_DOX=101)"},
      {"benefit code that is no number", Key("1", 101, "", "", "A"),
       "TIN='1' and OZN_PILG='A' AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=101)"},
      {"benefit code holding a condition", Key("1", 101, "", "", "1 OR O'1"),
       "TIN='1' and OZN_PILG='1 OR O''1' AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
       "(OZN_DOX=101)"},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BuildMatchFilter(c.key), c.expected);
  }
}

TEST(MatchFilterTest, TrimsCharactersUpToBlankOnBothSides) {
  EXPECT_EQ(TrimControlCharacters(" \t\x01"
                                  "12 3\r\n "),
            "12 3");
  EXPECT_EQ(TrimControlCharacters("\x7F"), "\x7F");
  EXPECT_EQ(TrimControlCharacters(""), "");
}

// Tables in a temporary directory that is removed with the fixture.
class MatchFilterTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zuvrex_match_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern + "/";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Opens `table` on a new file with `columns` and appends one record per entry of `rows`,
  // each giving the text of the columns named in `names`.
  void Fill(tables::Table& table, const std::string& file_name,
            const std::vector<tables::FieldSpec>& columns, const std::vector<std::string>& names,
            const std::vector<std::vector<std::string>>& rows) {
    tables::Table::Create(dir_ + file_name, columns, tables::kReportCodePageByte);
    table.SetDirectory(dir_);
    table.SetFileName(file_name);
    table.Open();
    for (const auto& values : rows) {
      table.Append();
      for (std::size_t i = 0; i < names.size(); ++i) {
        table.FieldByName(names[i]).SetString(values[i]);
      }
      table.Post();
    }
  }

  // The TINs of the records the filter for `key` selects, in the table's order.
  static std::vector<std::string> Selected(tables::Table& table, const MatchKey& key) {
    table.SetFiltered(false);
    table.SetFilter(BuildMatchFilter(key));
    table.SetFiltered(true);
    std::vector<std::string> tins;
    table.First();
    for (std::int64_t i = 0; i < table.RecordCount(); ++i, table.Next()) {
      tins.push_back(table.FieldByName(tables::kColumnTIN).AsString());
    }
    table.SetFiltered(false);
    return tins;
  }

  std::string dir_;
};

// TINs that differ only in a quote or a trailing star, or that are prefixes of one another.
const std::vector<std::string> kLookAlikeTins = {"123456",     "12345*", "12345",  "1234*", "1234",
                                                 "12'4567890", "12'4",   "1234**", "*"};

TEST_F(MatchFilterTableTest, WorkTableSelectsOnlyTheIdenticalTin) {
  for (const bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "work table with its TIN index" : "table in file order");
    tables::Table work("TableSorted");
    if (indexed) work.SetIndexName(tables::kTinIndexName);
    std::vector<std::vector<std::string>> rows;
    for (const std::string& tin : kLookAlikeTins) rows.push_back({tin, "1"});
    Fill(work, indexed ? "sorted.DBF" : "plain.dbf", tables::ReportColumns(),
         {tables::kColumnTIN, tables::kColumnOZN_DOX}, rows);

    for (const std::string& tin : kLookAlikeTins) {
      SCOPED_TRACE("TIN " + tin);
      EXPECT_EQ(Selected(work, Key(tin, 2, "", "", "")), std::vector<std::string>{tin});
    }
    EXPECT_EQ(Selected(work, Key("12", 1, "", "", "")), std::vector<std::string>{});
    EXPECT_EQ(Selected(work, Key("12'", 1, "", "", "")), std::vector<std::string>{});
  }
}

// The work table selects the same records whether it parses the filter text or the merge
// writes the filter condition by condition, for keys of every shape against records that differ
// from them in one value at a time.
TEST_F(MatchFilterTableTest, WrittenFilterSelectsWhatTheTextSelects) {
  const std::vector<std::string> tins = {"0123456789", "12345*", "12345"};
  const std::vector<std::string> benefits = {"", "1", "3"};
  const std::vector<std::string> hires = {"", "01.02.2009", "02.02.2009"};
  const std::vector<std::string> dismissals = {"", "15.03.2010", "16.03.2010"};
  const std::vector<std::int64_t> kinds = {1, 2, 22, 101};

  tables::Table work("TableSorted");
  work.SetIndexName(tables::kTinIndexName);
  std::vector<std::vector<std::string>> rows;
  int np = 0;
  for (const auto& tin : tins)
    for (const auto& benefit : benefits)
      for (const auto& hire : hires)
        for (const auto& dismissal : dismissals)
          for (std::int64_t kind : kinds)
            rows.push_back(
                {std::to_string(++np), tin, benefit, hire, dismissal, std::to_string(kind)});
  Fill(work, "sorted.DBF", tables::ReportColumns(),
       {tables::kColumnNP, tables::kColumnTIN, tables::kColumnOZN_PILG, tables::kColumnD_PRIYN,
        tables::kColumnD_ZVILN, tables::kColumnOZN_DOX},
       rows);
  ReportColumns columns(work);
  const MatchColumns match_columns = FindMatchColumns(columns);

  auto selected_nps = [&](const MatchKey& key, bool written) {
    work.SetFiltered(false);
    work.SetFilter("");
    if (written) {
      work.SetFilter(BuildMatchFilter(key), [&](tables::Filter::Builder& filter) {
        WriteMatchFilter(key, match_columns, filter);
      });
    } else {
      work.SetFilter(BuildMatchFilter(key));
    }
    work.SetFiltered(true);
    std::vector<std::int64_t> nps;
    work.First();
    for (std::int64_t i = 0; i < work.RecordCount(); ++i, work.Next()) {
      nps.push_back(work.FieldByName(tables::kColumnNP).AsInteger());
    }
    return nps;
  };

  int keys_with_matches = 0;
  for (const auto& tin : tins)
    for (const auto& benefit : benefits)
      for (const auto& hire : hires)
        for (const auto& dismissal : dismissals)
          for (std::int64_t kind : kinds) {
            const MatchKey key = Key(tin, kind, hire, dismissal, benefit);
            SCOPED_TRACE(BuildMatchFilter(key));
            const std::vector<std::int64_t> expected = selected_nps(key, false);
            EXPECT_EQ(selected_nps(key, true), expected);
            if (!expected.empty()) ++keys_with_matches;
          }
  EXPECT_GT(keys_with_matches, 0);

  // A value the work table cannot hold is refused either way.
  const MatchKey bad = Key("1", 1, "", "", "A");
  EXPECT_THROW(work.SetFilter(BuildMatchFilter(bad),
                              [&](tables::Filter::Builder& filter) {
                                WriteMatchFilter(bad, match_columns, filter);
                              }),
               tables::TableError);
}

TEST_F(MatchFilterTableTest, TextColumnsMatchQuotedValuesLiterally) {
  // A layout whose dates and benefit code are text columns, so that any value can be stored.
  const std::vector<tables::FieldSpec> columns = {
      {tables::kColumnTIN, 'C', 10, 0},     {tables::kColumnOZN_DOX, 'N', 3, 0},
      {tables::kColumnD_PRIYN, 'C', 10, 0}, {tables::kColumnD_ZVILN, 'C', 10, 0},
      {tables::kColumnOZN_PILG, 'C', 8, 0},
  };
  tables::Table table("Table1");
  Fill(table, "text.dbf", columns,
       {tables::kColumnTIN, tables::kColumnOZN_DOX, tables::kColumnD_PRIYN, tables::kColumnD_ZVILN,
        tables::kColumnOZN_PILG},
       {
           {"quote", "1", "01.02'2009", "", ""},
           {"plain", "1", "01.02.2009", "", ""},
           {"letter", "1", "", "", "A"},
           {"condition", "1", "", "", "1 OR O'1"},
           {"one", "1", "", "", "1"},
       });

  EXPECT_EQ(Selected(table, Key("quote", 1, "01.02'2009", "", "")),
            std::vector<std::string>{"quote"});
  EXPECT_EQ(Selected(table, Key("plain", 1, "01.02'2009", "", "")), std::vector<std::string>{});
  EXPECT_EQ(Selected(table, Key("letter", 1, "", "", "A")), std::vector<std::string>{"letter"});
  EXPECT_EQ(Selected(table, Key("condition", 1, "", "", "1 OR O'1")),
            std::vector<std::string>{"condition"});
  EXPECT_EQ(Selected(table, Key("one", 1, "", "", "1 OR O'1")), std::vector<std::string>{});
}

TEST_F(MatchFilterTableTest, ValueTheWorkTableCannotHoldIsRefusedNamingTheColumn) {
  tables::Table work("TableSorted");
  work.SetIndexName(tables::kTinIndexName);
  Fill(work, "sorted.DBF", tables::ReportColumns(), {tables::kColumnTIN}, {{"1"}});
  const std::pair<MatchKey, const char*> cases[] = {
      {Key("1", 1, "", "", "A"), "column 'OZN_PILG'"},
      {Key("1", 1, "01.02'2009", "", ""), "column 'D_PRIYN'"},
  };
  for (const auto& [key, column] : cases) {
    SCOPED_TRACE(column);
    try {
      work.SetFilter(BuildMatchFilter(key));
      ADD_FAILURE() << "the filter was accepted";
    } catch (const tables::TableError& error) {
      EXPECT_NE(std::string(error.what()).find(column), std::string::npos) << error.what();
    }
  }
}

TEST_F(MatchFilterTableTest, ReadMatchKeyTrimsOnlyTheBenefitCode) {
  const std::vector<tables::FieldSpec> columns = {
      {tables::kColumnTIN, 'C', 10, 0},     {tables::kColumnOZN_DOX, 'N', 3, 0},
      {tables::kColumnD_PRIYN, 'D', 8, 0},  {tables::kColumnD_ZVILN, 'D', 8, 0},
      {tables::kColumnOZN_PILG, 'C', 4, 0},
  };
  tables::Table input("Table1");
  Fill(
      input, "input.dbf", columns,
      {tables::kColumnTIN, tables::kColumnOZN_DOX, tables::kColumnD_PRIYN, tables::kColumnOZN_PILG},
      {{" 12", "2", "01.02.2009", "  1"}, {"3", "101", "", "    "}});
  input.First();
  ReportColumns input_columns(input);
  MatchKey key = ReadMatchKey(input_columns);
  EXPECT_EQ(key.tin, " 12");
  EXPECT_EQ(key.income_kind, 2);
  EXPECT_EQ(key.hire_date, "01.02.2009");
  EXPECT_EQ(key.dismissal_date, "");
  EXPECT_EQ(key.benefit_code, "1");
  input.Next();
  key = ReadMatchKey(input_columns);
  EXPECT_EQ(key.tin, "3");
  EXPECT_EQ(key.hire_date, "");
  EXPECT_EQ(key.benefit_code, "");
}

TEST_F(MatchFilterTableTest, ReadMatchKeyRaisesForAMissingColumn) {
  tables::Table input("Table1");
  Fill(input, "input.dbf", {{tables::kColumnNP, 'N', 5, 0}, {tables::kColumnTIN, 'C', 10, 0}},
       {tables::kColumnTIN}, {{"1"}});
  input.First();
  ReportColumns columns(input);
  try {
    ReadMatchKey(columns);
    FAIL() << "no exception";
  } catch (const tables::TableError& error) {
    EXPECT_NE(std::string(error.what()).find("'OZN_DOX'"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace merge
