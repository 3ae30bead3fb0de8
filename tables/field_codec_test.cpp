#include "tables/field_codec.h"

#include <gtest/gtest.h>

#include <cstdint>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tables {
namespace {

using platform::CodePage;

std::string Shown(const std::optional<double>& value) {
  return value ? std::to_string(*value) : std::string("(blank)");
}

TEST(FieldCodecTest, ParsesNumberFieldsAsRealFilesHoldThem) {
  struct Case {
    std::string raw;
    std::optional<double> expected;
  };
  const std::vector<Case> cases = {
      {"       1500.00", 1500.0},
      {"1500.00       ", 1500.0},  // left-aligned
      {"  1,5", 1.5},              // comma as the decimal point
      {"1.E+3", 1000.0},           // exponent form
      {"  -12.50", -12.5},
      {"+7", 7.0},
      {" .5", 0.5},
      {"5.", 5.0},
      {"1e-2", 0.01},
      {std::string("\0\0 42\0", 6), 42.0},  // NUL padding around
      {"***", std::nullopt},                // overflow or NULL marker
      {"************", std::nullopt},
      {std::string(8, '\0'), std::nullopt},
      {"        ", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.raw + "'");
    const std::optional<double> got = ParseNumberField(c.raw);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << Shown(got);
    if (got) {
      EXPECT_DOUBLE_EQ(*got, *c.expected);
    }
  }
}

TEST(FieldCodecTest, GarbageInNumberFieldsRaises) {
  for (const std::string raw : {"12abc", ".", "-", "inf", "nan", "-inf", "INF", "1,000.5", "1 2",
                                "0x10", "+-1", "--1", "e5", "1e", "*1", "1.2.3", "1e5e5"}) {
    SCOPED_TRACE("'" + raw + "'");
    EXPECT_THROW(ParseNumberField(raw), ValueError);
  }
}

TEST(FieldCodecTest, NumberErrorsQuoteTheBytesPrintably) {
  try {
    ParseNumberField(std::string("1\x01x", 3));
    FAIL() << "no ValueError";
  } catch (const ValueError& error) {
    EXPECT_STREQ(error.what(), "'1?x' is not a number");
  }
}

TEST(FieldCodecTest, FormatsNumberFieldsRoundingTheDecimalValue) {
  struct Case {
    double value;
    int width;
    int decimals;
    const char* expected;  // nullptr: raises
  };
  const std::vector<Case> cases = {
      {0.125, 8, 2, "    0.13"},  // half away from zero on the decimal value 0.125
      {2.675, 6, 2, "  2.68"},    // the double is 2.67499999..., the decimal value 2.675
      {-0.005, 6, 2, " -0.01"},
      {-0.0, 5, 2, " 0.00"},
      {-0.001, 5, 2, " 0.00"},  // no "-0.00"
      {1e-300, 5, 2, " 0.00"},
      {1500, 12, 2, "     1500.00"},
      {-1234.5, 7, 1, "-1234.5"},
      {0.5, 3, 0, "  1"},
      {-0.5, 3, 0, " -1"},
      {2.5, 3, 0, "  3"},
      {99.995, 6, 2, "100.00"},
      {123456789.12, 12, 2, "123456789.12"},
      {12345, 5, 0, "12345"},
      {-1234, 5, 0, "-1234"},
      {0.1 + 0.2, 5, 2, " 0.30"},
      {1e15, 12, 2, nullptr},           // too wide: never cut
      {999999999.995, 12, 2, nullptr},  // rounds up to 13 characters
      {123456, 5, 0, nullptr},
      {-12345, 5, 0, nullptr},
      {std::numeric_limits<double>::infinity(), 10, 0, nullptr},
      {std::numeric_limits<double>::quiet_NaN(), 10, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " into N(" + std::to_string(c.width) + "," +
                 std::to_string(c.decimals) + ")");
    std::string out(static_cast<std::size_t>(c.width), '#');
    if (c.expected == nullptr) {
      EXPECT_THROW(FormatNumberField(c.value, c.width, c.decimals, out.data()), ValueError);
      EXPECT_EQ(out, std::string(static_cast<std::size_t>(c.width), '#'));  // untouched
    } else {
      FormatNumberField(c.value, c.width, c.decimals, out.data());
      EXPECT_EQ(out, c.expected);
    }
  }
}

TEST(FieldCodecTest, NumberTextIsShortestWithoutExponent) {
  const std::vector<std::pair<double, const char*>> cases = {
      {1500.0, "1500"},    {12.5, "12.5"}, {-0.25, "-0.25"},
      {-0.0, "0"},         {0.1, "0.1"},   {1e20, "100000000000000000000"},
      {1e-7, "0.0000001"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(FormatNumberText(value), expected);
}

TEST(FieldCodecTest, ParsesDateFields) {
  struct Case {
    std::string raw;
    std::optional<Date> expected;
  };
  const std::vector<Case> cases = {
      {"20240131", Date{2024, 1, 31}}, {"20240229", Date{2024, 2, 29}},  // leap year
      {"20000229", Date{2000, 2, 29}}, {"        ", std::nullopt},
      {"00000000", std::nullopt},      {std::string(8, '\0'), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.raw + "'");
    const std::optional<Date> got = ParseDateField(c.raw);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_TRUE(*got == *c.expected);
    }
  }
  for (const std::string raw : {"20230229", "19000229", "20241301", "20240100", "20240431",
                                "2024013 ", "31.01.24", "abcdefgh"}) {
    SCOPED_TRACE("'" + raw + "'");
    EXPECT_THROW(ParseDateField(raw), ValueError);
  }
}

TEST(FieldCodecTest, ParsesDateText) {
  const std::vector<std::pair<std::string, std::optional<Date>>> cases = {
      {"31.01.2024", Date{2024, 1, 31}},
      {"1.2.2024", Date{2024, 2, 1}},
      {"29.02.2024", Date{2024, 2, 29}},
      {"20240131", Date{2024, 1, 31}},
      {"31.02.2024", std::nullopt},
      {"29.02.2023", std::nullopt},
      {"20241301", std::nullopt},
      {"2024-01-31", std::nullopt},
      {"31.01.24", std::nullopt},
      {"131.01.2024", std::nullopt},
      {"1..2024", std::nullopt},
      {".1.2024", std::nullopt},
      {"31.01.2024.", std::nullopt},
      {"a1.01.2024", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE("'" + text + "'");
    const std::optional<Date> got = ParseDateText(text);
    ASSERT_EQ(got.has_value(), expected.has_value());
    if (got) {
      EXPECT_TRUE(*got == *expected);
    }
  }
  EXPECT_EQ(FormatDateText({2024, 1, 5}), "05.01.2024");
}

TEST(FieldCodecTest, ParsesLogicalFields) {
  for (char c : {'T', 't', 'Y', 'y'}) EXPECT_EQ(ParseLogicalField(c), true) << c;
  for (char c : {'F', 'f', 'N', 'n'}) EXPECT_EQ(ParseLogicalField(c), false) << c;
  for (char c : {'?', ' ', '\0', '1'}) EXPECT_EQ(ParseLogicalField(c), std::nullopt) << c;
}

// A record holding one column at offset 1, the deletion flag before it.
struct OneColumn {
  FieldDef field;
  std::string record;

  OneColumn(char type, int width, int decimals, const std::string& bytes = std::string())
      : field{"COL", type, width, decimals, 1},
        record(" " + bytes + std::string(static_cast<std::size_t>(width) - bytes.size(), ' ')) {}
  std::string Bytes() const { return record.substr(1); }
};

std::string Describe(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kBlank:
      return "blank";
    case Value::Kind::kInteger:
      return "integer " + std::to_string(value.integer());
    case Value::Kind::kFloat:
      return "float " + FormatNumberText(value.real());
    case Value::Kind::kText:
      return "text '" + value.text() + "'";
    case Value::Kind::kDate:
      return "date " + FormatDateText(value.date());
    case Value::Kind::kLogical:
      return std::string("logical ") + (value.logical() ? "T" : "F");
  }
  return "?";
}

TEST(FieldCodecTest, DecodesEachColumnType) {
  struct Case {
    char type;
    int width;
    int decimals;
    std::string bytes;
    CodePage page;
    std::string expected;  // Describe() of the value
  };
  const std::vector<Case> cases = {
      {'N', 5, 0, "   42", CodePage::kCp1251, "integer 42"},
      {'N', 5, 0, "  -42", CodePage::kCp1251, "integer -42"},
      {'N', 12, 2, "     1500.00", CodePage::kCp1251, "float 1500"},
      {'N', 5, 0, "  1.5", CodePage::kCp1251, "float 1.5"},
      {'N', 5, 0, "     ", CodePage::kCp1251, "blank"},
      {'F', 8, 3, "  -0.125", CodePage::kCp1251, "float -0.125"},
      {'D', 8, 0, "20240131", CodePage::kCp1251, "date 31.01.2024"},
      {'D', 8, 0, "00000000", CodePage::kCp1251, "blank"},
      {'L', 1, 0, "y", CodePage::kCp1251, "logical T"},
      {'L', 1, 0, "?", CodePage::kCp1251, "blank"},
      {'C', 10, 0, "ABC", CodePage::kCp1251, "text 'ABC'"},
      {'C', 10, 0, "  ABC", CodePage::kCp1251, "text '  ABC'"},  // leading blanks kept
      {'C', 10, 0, std::string("AB\0\0", 4), CodePage::kCp1251, "text 'AB'"},
      {'C', 10, 0,
       "\xCA\xC0"
       "123456",
       CodePage::kCp1251, "text 'КА123456'"},
      {'C', 10, 0,
       "\x8A\x80"
       "123456",
       CodePage::kCp866, "text 'КА123456'"},
      {'C', 10, 0, "", CodePage::kCp1251, "blank"},
      {'M', 10, 0, "        12", CodePage::kCp1251, "text '        12'"},  // unknown: raw text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " '" + c.bytes + "'");
    const OneColumn column(c.type, c.width, c.decimals, c.bytes);
    EXPECT_EQ(Describe(DecodeField(column.field, column.record.data(), c.page)), c.expected);
  }
  const OneColumn garbage('N', 5, 0, "12abc");
  EXPECT_THROW(DecodeField(garbage.field, garbage.record.data(), CodePage::kCp1251), ValueError);
  const OneColumn bad_date('D', 8, 0, "20230229");
  EXPECT_THROW(DecodeField(bad_date.field, bad_date.record.data(), CodePage::kCp1251), ValueError);
}

TEST(FieldCodecTest, EncodesValuesIntoEachColumnType) {
  struct Case {
    const char* name;
    char type;
    int width;
    int decimals;
    Value value;
    const char* expected;  // the field bytes; nullptr: raises
  };
  const Value kDate = Value::FromDate({2024, 1, 31});
  const std::vector<Case> cases = {
      {"text into C", 'C', 10, 0, Value::Text("ABC"), "ABC       "},
      {"Cyrillic text into C", 'C', 10, 0, Value::Text("КА123456"),
       "\xCA\xC0"
       "123456  "},
      {"text of exactly the width", 'C', 3, 0, Value::Text("ABC"), "ABC"},
      {"integer into C", 'C', 10, 0, Value::Integer(-42), "-42       "},
      {"float into C", 'C', 10, 0, Value::Float(1500.5), "1500.5    "},
      {"date into C", 'C', 10, 0, kDate, "31.01.2024"},
      {"logical into C", 'C', 3, 0, Value::Logical(true), "T  "},
      {"empty text clears C", 'C', 4, 0, Value::Text(""), "    "},
      {"blank clears C", 'C', 4, 0, Value(), "    "},
      {"text too long for C", 'C', 10, 0, Value::Text("ABCDEFGHIJK"), nullptr},
      {"Cyrillic too long for C", 'C', 3, 0, Value::Text("КАБВ"), nullptr},
      {"date too long for C", 'C', 8, 0, kDate, nullptr},
      {"integer too long for C", 'C', 3, 0, Value::Integer(1234), nullptr},
      {"text outside the code page", 'C', 10, 0, Value::Text("日本"), nullptr},
      {"infinity into C", 'C', 10, 0, Value::Float(std::numeric_limits<double>::infinity()),
       nullptr},
      {"integer into N with decimals", 'N', 12, 2, Value::Integer(1500), "     1500.00"},
      {"negative integer into N with decimals", 'N', 6, 2, Value::Integer(-5), " -5.00"},
      {"smallest integer into N", 'N', 20, 0, Value::Integer(INT64_MIN), "-9223372036854775808"},
      {"float into N", 'N', 12, 2, Value::Float(-0.005), "       -0.01"},
      {"number text into N", 'N', 12, 2, Value::Text(" 1,5 "), "        1.50"},
      {"exponent text into N", 'N', 6, 0, Value::Text("1.E+3"), "  1000"},
      {"blank text clears N", 'N', 5, 0, Value::Text("   "), "     "},
      {"blank clears N", 'N', 5, 0, Value(), "     "},
      {"integer too wide for N", 'N', 5, 0, Value::Integer(123456), nullptr},
      {"float too wide for N", 'N', 12, 2, Value::Float(1e15), nullptr},
      {"text that is no number", 'N', 5, 0, Value::Text("12abc"), nullptr},
      {"text 'inf' into N", 'N', 5, 0, Value::Text("inf"), nullptr},
      {"date into N", 'N', 8, 0, kDate, nullptr},
      {"logical into N", 'N', 1, 0, Value::Logical(true), nullptr},
      {"date into D", 'D', 8, 0, kDate, "20240131"},
      {"date text into D", 'D', 8, 0, Value::Text("31.01.2024"), "20240131"},
      {"stored date text into D", 'D', 8, 0, Value::Text("20240131"), "20240131"},
      {"empty text clears D", 'D', 8, 0, Value::Text(""), "        "},
      {"impossible date text", 'D', 8, 0, Value::Text("31.02.2024"), nullptr},
      {"text that is no date", 'D', 8, 0, Value::Text("yesterday"), nullptr},
      {"integer into D", 'D', 8, 0, Value::Integer(20240131), nullptr},
      {"logical into L", 'L', 1, 0, Value::Logical(false), "F"},
      {"text into L", 'L', 1, 0, Value::Text("y"), "T"},
      {"1 into L", 'L', 1, 0, Value::Integer(1), "T"},
      {"? into L", 'L', 1, 0, Value::Text("?"), "?"},
      {"blank into L", 'L', 1, 0, Value(), "?"},
      {"2 into L", 'L', 1, 0, Value::Integer(2), nullptr},
      {"word into L", 'L', 1, 0, Value::Text("maybe"), nullptr},
      {"date into L", 'L', 1, 0, kDate, nullptr},
      {"text into a memo column", 'M', 10, 0, Value::Text("12"), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneColumn column(c.type, c.width, c.decimals,
                     std::string(static_cast<std::size_t>(c.width), '#'));
    if (c.expected == nullptr) {
      EXPECT_THROW(EncodeField(column.field, c.value, column.record.data(), CodePage::kCp1251),
                   ValueError);
    } else {
      EncodeField(column.field, c.value, column.record.data(), CodePage::kCp1251);
      EXPECT_EQ(column.Bytes(), c.expected);
    }
    EXPECT_EQ(column.record[0], ' ');  // the flag byte is never touched
  }
}

TEST(FieldCodecTest, EncodesTextInTheGivenCodePage) {
  OneColumn column('C', 4, 0);
  EncodeField(column.field, Value::Text("ЖЁ"), column.record.data(), CodePage::kCp866);
  EXPECT_EQ(column.Bytes(), "\x86\xF0  ");
  EncodeField(column.field, Value::Text("ЖЁ"), column.record.data(), CodePage::kCp1251);
  EXPECT_EQ(column.Bytes(), "\xC6\xA8  ");
}

}  // namespace
}  // namespace tables
