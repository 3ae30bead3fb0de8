#include "platform/int_conversion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace platform {
namespace {

struct Case {
  const char* text;
  std::optional<std::int32_t> expected;
};

const Case kCases[] = {
    // Decimal.
    {"0", 0},
    {"7", 7},
    {"04", 4},
    {"0000000000000000004", 4},
    {"-0", 0},
    {"+0", 0},
    {"+15", 15},
    {"-15", -15},
    {"201", 201},
    {"2147483647", 2147483647},
    {"-2147483648", INT32_MIN},
    {"+2147483647", 2147483647},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"99999999999999999999", std::nullopt},
    // Leading blanks are skipped, trailing ones are not.
    {"  42", 42},
    {"\t42", 42},
    {" \t -42", -42},
    {"42 ", std::nullopt},
    {"42\t", std::nullopt},
    {"4 2", std::nullopt},
    {"- 42", std::nullopt},
    // Hexadecimal.
    {"$10", 16},
    {"x10", 16},
    {"X10", 16},
    {"0x10", 16},
    {"0X10", 16},
    {"0xff", 255},
    {"$aBcD", 0xABCD},
    {"0x7FFFFFFF", 2147483647},
    {"0x80000000", INT32_MIN},
    {"0xFFFFFFFF", -1},
    {"$FFFFFFFF", -1},
    {"0x000000000000FFFFFFFF", -1},
    {"0x00000000010", 16},
    {"0x100000000", std::nullopt},
    {"$123456789", std::nullopt},
    {"  $1F", 31},
    {"-$10", std::nullopt},
    {"+0x10", std::nullopt},
    {"-0x10", std::nullopt},
    {"0x", std::nullopt},
    {"$", std::nullopt},
    {"x", std::nullopt},
    {"0xG", std::nullopt},
    {"$10 ", std::nullopt},
    {"00x10", std::nullopt},
    {"10h", std::nullopt},
    // Not numbers.
    {"", std::nullopt},
    {" ", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {"120.50", std::nullopt},
    {"1.", std::nullopt},
    {"1e3", std::nullopt},
    {"IV", std::nullopt},
    {"1,000", std::nullopt},
    {"--1", std::nullopt},
    {"+-1", std::nullopt},
    {"12a", std::nullopt},
};

TEST(IntConversionTest, Table) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("text: \"") + c.text + "\"");
    EXPECT_EQ(TryStrToInt(c.text), c.expected);
    EXPECT_EQ(StrToIntDef(c.text, -777), c.expected.value_or(-777));
    if (c.expected) {
      EXPECT_EQ(StrToInt(c.text), *c.expected);
    } else {
      EXPECT_THROW(StrToInt(c.text), ConversionError);
    }
  }
}

TEST(IntConversionTest, EmbeddedNulIsNotIgnored) {
  EXPECT_EQ(TryStrToInt(std::string_view("12\0", 3)), std::nullopt);
}

TEST(IntConversionTest, ErrorMessageQuotesTheText) {
  try {
    StrToInt("IV");
    FAIL() << "no exception";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'IV' is not a valid integer value");
  }
}

}  // namespace
}  // namespace platform
