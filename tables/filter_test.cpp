#include "tables/filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/field_codec.h"
#include "tables/table_error.h"

namespace tables {
namespace {

const std::vector<FieldDef>& Layout() {
  static const std::vector<FieldDef> kFields = {
      {"NP", 'N', 5, 0, 1},        {"TIN", 'C', 10, 0, 6},     {"S_DOX", 'N', 12, 2, 16},
      {"OZN_DOX", 'N', 3, 0, 28},  {"D_PRIYN", 'D', 8, 0, 31}, {"D_ZVILN", 'D', 8, 0, 39},
      {"OZN_PILG", 'N', 2, 0, 47}, {"FLAG", 'L', 1, 0, 49},
  };
  return kFields;
}

constexpr int kRecordLength = 50;
const std::string kLabel = "reports.dbf";

// One raw record from the field texts in layout order: numbers right-aligned, everything else
// left-aligned, blanks around. Texts are taken as bytes, so cp1251 text goes in as written.
std::string Record(const std::vector<std::string>& values) {
  std::string record(kRecordLength, ' ');
  for (std::size_t i = 0; i < values.size(); ++i) {
    const FieldDef& field = Layout()[i];
    const std::string& value = values[i];
    std::size_t at = static_cast<std::size_t>(field.offset);
    if (field.type == 'N') at += static_cast<std::size_t>(field.width) - value.size();
    record.replace(at, value.size(), value);
  }
  return record;
}

// NP holds the record number that the expectations below name.
const std::vector<std::string>& Records() {
  // clang-format off
  static const std::vector<std::string> kRecords = {
      //      NP    TIN             S_DOX       OZN_DOX D_PRIYN     D_ZVILN     PILG FLAG
      Record({"1",  "0123456789",   "1500.00",  "1",    "",         "",         "1", "T"}),
      Record({"2",  "0123456789",   "1500.50",  "2",    "",         "20100315", "1", "F"}),
      Record({"3",  "0123456789",   "",         "1",    "20090101", "",         "1", "?"}),
      Record({"4",  "0123456789",   "1",        "3",    "",         "",         "1", "y"}),
      Record({"5",  "0123456789",   "1500,00",  "1",    "",         "20100316", "1", "n"}),
      Record({"6",  "AB*",          "2",        "",     "",         "",         "2", "T"}),
      Record({"7",  "ABC",          "",         "2",    "",         "",         "1", " "}),
      Record({"8",  "AB",           "",         "",     "",         "",         "",  "F"}),
      Record({"9",  "O'BRIEN",      "",         "",     "",         "",         "",  ""}),
      Record({"10", "OBRIEN",       "",         "",     "",         "",         "",  ""}),
      Record({"11", "abc",          "",         "",     "",         "",         "",  ""}),
      Record({"12", "",             "",         "",     "",         "",         "",  ""}),
      Record({"13", "\xCF\xC5\xD2\xD0\xCE", "", "",     "",         "",         "",  ""}),
      Record({"14", "*",            "",         "",     "",         "",         "",  ""}),
      Record({"15", std::string("XY\0\0\0\0\0\0\0\0", 10), "", "", "00000000", "", "", ""}),
  };
  // clang-format on
  return kRecords;
}

Filter ParseFilter(const std::string& text) {
  return Filter::Parse(text, Layout(), platform::CodePage::kCp1251, kLabel);
}

std::vector<int> MatchingRecords(const Filter& filter) {
  std::vector<int> numbers;
  for (std::size_t i = 0; i < Records().size(); ++i) {
    if (filter.Matches(Records()[i].data())) numbers.push_back(static_cast<int>(i) + 1);
  }
  return numbers;
}

const char kMergeFilter[] =
    "TIN='0123456789' and OZN_PILG=1 AND D_PRIYN IS NULL  AND ((D_ZVILN IS NULL) OR "
    "(D_ZVILN='15.03.2010')) AND (OZN_DOX=1 OR OZN_DOX=2)";

struct MatchCase {
  const char* text;
  std::vector<int> expected;
};

TEST(FilterTest, SelectsTheExpectedRecords) {
  const std::vector<int> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const std::vector<MatchCase> cases = {
      {"", all},
      {"   ", all},
      // Text: exact, case-sensitive, against trimmed bytes (blanks or NULs).
      {"TIN='0123456789'", {1, 2, 3, 4, 5}},
      {"TIN=0123456789", {1, 2, 3, 4, 5}},  // a number against text keeps its digits
      {"TIN='ABC'", {7}},
      {"TIN='abc'", {11}},
      {"TIN=abc", {11}},
      {"TIN='XY'", {15}},
      {"TIN='ABC   '", {7}},
      {"TIN=''", {12}},
      {"TIN='O''BRIEN'", {9}},
      {"TIN='\xD0\x9F\xD0\x95\xD0\xA2\xD0\xA0\xD0\x9E'", {13}},  // UTF-8 text, cp1251 field
      // Prefix and literal asterisks.
      {"TIN='AB*'", {6, 7, 8}},
      {"TIN='AB**'", {6}},
      {"TIN='*'", {14}},
      {"TIN='0123*'", {1, 2, 3, 4, 5}},
      {"TIN='\xD0\x9F\xD0\x95*'", {13}},
      // Numbers compare as values.
      {"NP=3", {3}},
      {"S_DOX=1500", {1, 5}},
      {"S_DOX=1500.00", {1, 5}},
      {"S_DOX='1500,00'", {1, 5}},
      {"S_DOX=1500.5", {2}},
      {"OZN_DOX=1", {1, 3, 5}},
      {"OZN_DOX=1.00", {1, 3, 5}},
      {"OZN_DOX=+1", {1, 3, 5}},
      {"S_DOX=''", {3, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      // Dates in text form.
      {"D_ZVILN='15.03.2010'", {2}},
      {"D_ZVILN=15.03.2010", {2}},
      {"D_ZVILN='20100316'", {5}},
      {"D_PRIYN='1.1.2009'", {3}},
      {"D_PRIYN=''", {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      // Logicals.
      {"FLAG='T'", {1, 4, 6}},
      {"FLAG=y", {1, 4, 6}},
      {"FLAG=f", {2, 5, 8}},
      // IS NULL on each type.
      {"TIN IS NULL", {12}},
      {"S_DOX IS NULL", {3, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      {"D_PRIYN IS NULL", {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      {"FLAG IS NULL", {3, 7, 9, 10, 11, 12, 13, 14, 15}},
      // Connectives, precedence, parentheses, letter case of keywords and columns.
      {"OZN_DOX=1 AND FLAG=T", {1}},
      {"ozn_dox=1 and flag=t", {1}},
      {"Ozn_Dox = 1 aNd Flag Is Null", {3}},
      {"NP=1 OR NP=6", {1, 6}},
      {"NP=1 OR NP=2 AND FLAG='T'", {1}},
      {"(NP=1 OR NP=2) AND FLAG='F'", {2}},
      {"NP=1 or ((NP=2) or (NP=3 and TIN='0123456789'))", {1, 2, 3}},
      {"\tNP=1\r\nOR\tNP=6 ", {1, 6}},
      {kMergeFilter, {1, 2}},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(MatchingRecords(ParseFilter(c.text)), c.expected) << c.text;
  }
}

TEST(FilterTest, RejectsMalformedFiltersNamingTheTable) {
  const std::vector<const char*> texts = {
      "XYZ=1",                 // unknown column
      "(NP=1",                 // '(' not closed
      "NP=1)",                 // ')' without '('
      "((NP=1) OR (NP=2)",     //
      "TIN='abc",              // unterminated quote
      "TIN='abc''",            // the doubled quote leaves it open
      "NP=1 NP=2",             // trailing text
      "NP=1 XOR NP=2",         //
      "S_DOX='abc'",           // no number
      "D_ZVILN='31.02.2010'",  // no date
      "D_ZVILN=20100315",      // a number is no date
      "FLAG='X'",              // no logical
      "FLAG=1",                //
      "TIN=",                  // missing constant
      "TIN= AND NP=1",         //
      "TIN=()",                //
      "AND",                   // missing operands
      "NP=1 AND",              //
      "NP=1 OR OR NP=2",       //
      "()",                    //
      "TIN",                   //
      "TIN IS NOT NULL",       //
      "TIN > 'a'",             //
      "TIN='\xE4\xB8\xAD'",    // not in the table's code page
  };
  for (const char* text : texts) {
    try {
      ParseFilter(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const TableError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(kLabel + ": ", 0), 0u) << e.what();
    }
  }
}

TEST(FilterTest, ErrorMessagesSayWhatAndWhere) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"TIN=", "reports.dbf: cannot parse filter \"TIN=\": constant expected at position 5"},
      {"NP=1 AND XYZ=2",
       "reports.dbf: cannot parse filter \"NP=1 AND XYZ=2\": unknown column 'XYZ' at position 10"},
      {"NP=1 AND TIN='a", "unterminated quote at position 14"},
      {"S_DOX='abc'", "column 'S_DOX'"},
      {"TIN='\xE4\xB8\xAD'", "'\xE4\xB8\xAD'"},
  };
  for (const auto& [text, expected] : cases) {
    try {
      ParseFilter(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const TableError& e) {
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
    }
  }
}

TEST(FilterTest, RejectsNestingBeyondAnyRealFilter) {
  std::string text = std::string(1000, '(') + "NP=1" + std::string(1000, ')');
  EXPECT_THROW(ParseFilter(text), TableError);
}

TEST(FilterTest, MalformedFieldBytesRaiseValueError) {
  std::string bad_number = Record({"1", "", "12abc"});
  EXPECT_THROW(ParseFilter("S_DOX=1").Matches(bad_number.data()), ValueError);
  std::string bad_date = Record({"1", "", "", "", "20100231"});
  EXPECT_THROW(ParseFilter("D_PRIYN IS NULL").Matches(bad_date.data()), ValueError);
  EXPECT_THROW(ParseFilter("D_PRIYN='01.01.2010'").Matches(bad_date.data()), ValueError);
}

TEST(FilterTest, IndexKeyComesFromTextEqualityInTheConjunction) {
  const int tin = 1;
  struct KeyCase {
    const char* text;
    std::optional<std::string> key;
  };
  const std::vector<KeyCase> cases = {
      {kMergeFilter, "0123456789"},
      {"TIN='0123456789'", "0123456789"},
      {"NP=1 AND (S_DOX=2 AND TIN='X')", "X"},
      {"TIN='AB**'", "AB*"},
      {"TIN='\xD0\x9F\xD0\x95\xD0\xA2\xD0\xA0\xD0\x9E  '", "\xCF\xC5\xD2\xD0\xCE"},
      {"TIN='AB*'", std::nullopt},
      {"TIN='0123456789' OR NP=1", std::nullopt},
      {"NP=1 AND (TIN='A' OR TIN='B')", std::nullopt},
      {"TIN IS NULL", std::nullopt},
      {"NP=1", std::nullopt},
      {"", std::nullopt},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(ParseFilter(c.text).IndexKey(tin), c.key) << c.text;
  }
  EXPECT_EQ(ParseFilter(kMergeFilter).IndexKey(6), std::nullopt);  // OZN_PILG=1 is a number
}

TEST(FilterTest, TextIsEncodedInTheTablesCodePage) {
  // "ПЕТРО" in DOS 866.
  Filter filter = Filter::Parse("TIN='\xD0\x9F\xD0\x95\xD0\xA2\xD0\xA0\xD0\x9E'", Layout(),
                                platform::CodePage::kCp866, kLabel);
  EXPECT_EQ(filter.IndexKey(1), std::string("\x8F\x85\x92\x90\x8E"));
  EXPECT_TRUE(filter.Matches(Record({"1", "\x8F\x85\x92\x90\x8E"}).data()));
  EXPECT_FALSE(filter.Matches(Records()[12].data()));  // the cp1251 bytes
}

// A filter written with the builder selects what the text it stands for selects.
TEST(FilterBuilderTest, BuildsWhatTheTextParsesTo) {
  constexpr int kTin = 1, kOznDox = 3, kPriyn = 4, kZviln = 5, kPilg = 6, kFlag = 7;
  struct Case {
    const char* text;
    void (*build)(Filter::Builder&);
  };
  const Case cases[] = {
      {kMergeFilter,
       [](Filter::Builder& b) {
         b.BeginAnd();
         b.Equals(kTin, "0123456789", true);
         b.Equals(kPilg, "1", false);
         b.IsNull(kPriyn);
         b.BeginOr();
         b.IsNull(kZviln);
         b.Equals(kZviln, "15.03.2010", true);
         b.End();
         b.BeginOr();
         b.Equals(kOznDox, "1", false);
         b.Equals(kOznDox, "2", false);
         b.End();
         b.End();
       }},
      // Groups of one condition are that condition; nested groups keep their own operator.
      {"(TIN='AB*') OR (OZN_DOX=2 AND (FLAG=T OR FLAG=F))",
       [](Filter::Builder& b) {
         b.BeginOr();
         b.BeginAnd();
         b.Equals(kTin, "AB*", true);
         b.End();
         b.BeginAnd();
         b.Equals(kOznDox, "2", false);
         b.BeginOr();
         b.Equals(kFlag, "T", false);
         b.Equals(kFlag, "F", false);
         b.End();
         b.End();
         b.End();
       }},
      {"TIN='O''BRIEN' OR TIN='AB**' OR TIN IS NULL",
       [](Filter::Builder& b) {
         b.BeginOr();
         b.Equals(kTin, "O'BRIEN", true);
         b.Equals(kTin, "AB**", true);
         b.IsNull(kTin);
         b.End();
       }},
      {"", [](Filter::Builder&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Filter built;
    Filter::Builder builder(&built, c.text, Layout(), platform::CodePage::kCp1251, kLabel);
    c.build(builder);
    EXPECT_EQ(MatchingRecords(built), MatchingRecords(ParseFilter(c.text)));
    EXPECT_EQ(built.IndexKey(kTin), ParseFilter(c.text).IndexKey(kTin));
  }
}

TEST(FilterBuilderTest, RefusesWhatParsingRefuses) {
  const std::pair<const char*, void (*)(Filter::Builder&)> cases[] = {
      {"a text for a number column", [](Filter::Builder& b) { b.Equals(6, "A", true); }},
      {"a text that is no date", [](Filter::Builder& b) { b.Equals(4, "01.02'2009", true); }},
      {"a column that does not exist", [](Filter::Builder& b) { b.IsNull(8); }},
      {"End without a group", [](Filter::Builder& b) { b.End(); }},
      {"a group without End",
       [](Filter::Builder& b) {
         b.BeginAnd();
         b.IsNull(1);
         b.Finish();
       }},
      {"groups nested too deeply",
       [](Filter::Builder& b) {
         for (int i = 0; i <= Filter::Builder::kMaxGroups; ++i) b.BeginAnd();
       }},
  };
  for (const auto& [name, build] : cases) {
    SCOPED_TRACE(name);
    Filter built;
    Filter::Builder builder(&built, "the text", Layout(), platform::CodePage::kCp1251, kLabel);
    EXPECT_THROW(build(builder), TableError);
  }
}

}  // namespace
}  // namespace tables
