#include "tables/dbf_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tables/field_codec.h"
#include "tables/table_error.h"
#include "tests/fixtures/dbf_image.h"

namespace tables {
namespace {

using fixtures::DbfImageBytes;
using fixtures::ImageColumn;
using fixtures::ImageOptions;
using fixtures::PutU16;
using fixtures::PutU32;
using fixtures::RecordBytes;

const std::string kLabel = "/data/reports/in1.dbf";

const std::vector<ImageColumn>& Columns() {
  static const std::vector<ImageColumn> kColumns = {
      {"NP", 'N', 5, 0},     {"TIN", 'C', 10, 0}, {"D_PRIYN", 'D', 8, 0},
      {"S_DOX", 'N', 12, 2}, {"FLAG", 'L', 1, 0},
  };
  return kColumns;
}

constexpr std::size_t kHeaderLength = 32 + 32 * 5 + 1;          // 193
constexpr std::size_t kRecordLength = 1 + 5 + 10 + 8 + 12 + 1;  // 37

std::vector<std::string> ThreeRecords() {
  return {RecordBytes(Columns(), {"1", "0123456789", "20240131", "1500.00", "T"}),
          RecordBytes(Columns(),
                      {"2",
                       "\xCA\xC0"
                       "123456",
                       "", "-0.50", "?"},
                      '*'),
          RecordBytes(Columns(), {"3", "", "00000000", "", "F"})};
}

std::string ValidImage(const ImageOptions& options = {}) {
  return DbfImageBytes(Columns(), ThreeRecords(), options);
}

// A dBASE level 7 file: 68-byte header, 48-byte descriptors, optionally followed by a block of
// field properties that the header length counts.
std::string Dbase7Image(std::size_t property_bytes) {
  const std::size_t header_length = 68 + 48 * 2 + 1 + property_bytes;
  std::string image(header_length, '\0');
  image[0] = 0x04;
  PutU32(image, 4, 1);
  PutU16(image, 8, static_cast<std::uint32_t>(header_length));
  PutU16(image, 10, 1 + 5 + 10);
  image.replace(32, 8, "DBWINUS0");  // the language driver name
  image.replace(68, 2, "NP");
  image[68 + 32] = 'N';
  image[68 + 33] = 5;
  image.replace(68 + 48, 3, "TIN");
  image[68 + 48 + 32] = 'C';
  image[68 + 48 + 33] = 10;
  image[68 + 96] = 0x0D;
  image += "     1123       ";
  image.push_back(0x1A);
  return image;
}

std::string ParseError(const std::string& bytes) {
  try {
    ParseDbf(bytes, kLabel);
  } catch (const TableError& error) {
    return error.what();
  }
  return "(no TableError)";
}

TEST(DbfFormatTest, ReadsColumnsAndRecordsOfAValidFile) {
  ImageOptions options;
  options.code_page_byte = 0x65;
  const DbfImage image = ParseDbf(ValidImage(options), kLabel);
  ASSERT_EQ(image.layout.fields.size(), 5u);
  const FieldDef& dox = image.layout.fields[3];
  EXPECT_EQ(dox.name, "S_DOX");
  EXPECT_EQ(dox.type, 'N');
  EXPECT_EQ(dox.width, 12);
  EXPECT_EQ(dox.decimals, 2);
  EXPECT_EQ(dox.offset, 1 + 5 + 10 + 8);
  EXPECT_EQ(image.layout.header_length, kHeaderLength);
  EXPECT_EQ(image.layout.record_length, kRecordLength);
  EXPECT_EQ(image.layout.code_page_byte, 0x65);
  EXPECT_EQ(image.layout.code_page, platform::CodePage::kCp866);
  EXPECT_EQ(image.record_count, 3u);
  EXPECT_EQ(image.records, ThreeRecords()[0] + ThreeRecords()[1] + ThreeRecords()[2]);
  EXPECT_EQ(image.layout.header_bytes, ValidImage(options).substr(0, kHeaderLength));
}

TEST(DbfFormatTest, NamesAreCutAtTheFirstNul) {
  std::string bytes = ValidImage();
  bytes.replace(32, 11, std::string("NP\0XYZ\0\0\0\0\0", 11));
  EXPECT_EQ(ParseDbf(bytes, kLabel).layout.fields[0].name, "NP");
}

TEST(DbfFormatTest, MalformedFilesRaiseNamingTheFile) {
  struct Case {
    const char* name;
    std::function<std::string()> make;
    const char* says;  // a word the message must hold besides the file label
  };
  const std::vector<Case> cases = {
      {"truncated header", [] { return ValidImage().substr(0, 20); }, "shorter"},
      {"header length beyond the file",
       [] {
         std::string bytes = DbfImageBytes(Columns(), {});
         PutU16(bytes, 8, static_cast<std::uint32_t>(bytes.size() + 10));
         return bytes;
       },
       "truncated"},
      {"no 0x0D terminator",
       [] {
         std::string bytes = ValidImage();
         bytes[kHeaderLength - 1] = ' ';
         return bytes;
       },
       "header"},
      {"no room for the terminator",
       [] {
         std::string bytes = ValidImage();
         PutU16(bytes, 8, kHeaderLength - 1);
         return bytes;
       },
       "end mark"},
      {"header too short for the descriptors",
       [] {
         std::string bytes = ValidImage();
         PutU16(bytes, 8, 32 + 32 * 2 + 1);
         return bytes;
       },
       "too short"},
      {"header length smaller than the header",
       [] {
         std::string bytes = ValidImage();
         PutU16(bytes, 8, 10);
         return bytes;
       },
       "end mark"},
      {"record length smaller than the columns",
       [] {
         std::string bytes = ValidImage();
         PutU16(bytes, 10, kRecordLength - 1);
         return bytes;
       },
       "record length"},
      {"zero record length",
       [] {
         std::string bytes = ValidImage();
         PutU16(bytes, 10, 0);
         return bytes;
       },
       "record length"},
      {"zero columns", [] { return DbfImageBytes({}, {}); }, "no columns"},
      {"duplicate names ignoring case",
       [] {
         return DbfImageBytes({{"TIN", 'C', 10, 0}, {"NP", 'N', 5, 0}, {"tin", 'C', 4, 0}}, {});
       },
       "twice"},
      {"column without a name",
       [] {
         return DbfImageBytes({{"NP", 'N', 5, 0}, {"", 'C', 4, 0}}, {});
       },
       "no name"},
      {"column of width 0",
       [] {
         return DbfImageBytes({{"NP", 'N', 5, 0}, {"X", 'C', 0, 0}}, {});
       },
       "width 0"},
      {"name with a control character",
       [] {
         return DbfImageBytes({{"N\x01P", 'N', 5, 0}}, {});
       },
       "name"},
      {"truncated record area (half a record)",
       [] {
         const std::string bytes = ValidImage();
         return bytes.substr(0, kHeaderLength + 2 * kRecordLength + kRecordLength / 2);
       },
       "truncated"},
      {"count larger than the records present",
       [] {
         std::string bytes = ValidImage();
         PutU32(bytes, 4, 4);
         return bytes;
       },
       "truncated"},
      {"count near 2^32",
       [] {
         std::string bytes = ValidImage();
         PutU32(bytes, 4, 0xFFFFFFFFu);
         return bytes;
       },
       "truncated"},
      {"dBASE 7 layout", [] { return Dbase7Image(0); }, "dBASE level 7"},
      {"dBASE 7 layout with field properties", [] { return Dbase7Image(40); }, "dBASE level 7"},
      {"D column of width 6",
       [] {
         return DbfImageBytes({{"NP", 'N', 5, 0}, {"D_PRIYN", 'D', 6, 0}}, {});
       },
       "instead of 8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = ParseError(c.make());
    EXPECT_NE(message.find(kLabel), std::string::npos) << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
  }
}

TEST(DbfFormatTest, ToleratesQuirksOfOtherWriters) {
  const std::string records = ThreeRecords()[0] + ThreeRecords()[1] + ThreeRecords()[2];
  struct Case {
    const char* name;
    std::function<std::string()> make;
    std::uint32_t count;
    std::size_t header_length;
  };
  const std::vector<Case> cases = {
      {"count smaller than the records present (the header is trusted)",
       [] {
         std::string bytes = ValidImage();
         PutU32(bytes, 4, 2);
         return bytes;
       },
       2, kHeaderLength},
      {"missing 0x1A",
       [] {
         ImageOptions options;
         options.end_mark = false;
         return ValidImage(options);
       },
       3, kHeaderLength},
      {"junk after the last record", [] { return ValidImage() + "JUNK\x1A\x00\xFF"; }, 3,
       kHeaderLength},
      {"extra header bytes after the terminator",
       [] {
         ImageOptions options;
         options.extra_header_bytes = 5;
         return ValidImage(options);
       },
       3, kHeaderLength + 5},
      {"Visual FoxPro with its 263-byte backlink",
       [] {
         ImageOptions options;
         options.version = 0x30;
         options.extra_header_bytes = 263;
         return ValidImage(options);
       },
       3, kHeaderLength + 263},
      {"record length larger than the columns",
       [] {
         // Each record gets two extra bytes at its end; the columns stay at their offsets.
         std::vector<std::string> wide = ThreeRecords();
         for (std::string& record : wide) record += "@@";
         std::string bytes = DbfImageBytes(Columns(), wide);
         PutU16(bytes, 10, kRecordLength + 2);
         return bytes;
       },
       3, kHeaderLength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DbfImage image = ParseDbf(c.make(), kLabel);
    EXPECT_EQ(image.record_count, c.count);
    EXPECT_EQ(image.layout.header_length, c.header_length);
    ASSERT_EQ(image.layout.fields.size(), 5u);
    const std::size_t length = image.layout.record_length;
    ASSERT_EQ(image.records.size(), c.count * length);
    for (std::uint32_t r = 0; r < c.count; ++r) {
      EXPECT_EQ(image.records.substr(r * length, kRecordLength),
                records.substr(r * kRecordLength, kRecordLength));
    }
  }
}

TEST(DbfFormatTest, KeepsAnyFlagByteForTheTableToJudge) {
  // Only '*' marks a deleted record; the parser hands every flag byte on as it is.
  std::vector<std::string> records = ThreeRecords();
  records[0][0] = '#';
  const DbfImage image = ParseDbf(DbfImageBytes(Columns(), records), kLabel);
  EXPECT_EQ(image.records[0], '#');
  EXPECT_EQ(image.records[kRecordLength], '*');
}

TEST(DbfFormatTest, NewLayoutRejectsInvalidColumns) {
  const std::vector<std::pair<const char*, std::vector<FieldSpec>>> cases = {
      {"no columns", {}},
      {"name longer than 10", {{"ELEVENCHARS", 'C', 5, 0}}},
      {"empty name", {{"", 'C', 5, 0}}},
      {"name with a blank", {{"A B", 'C', 5, 0}}},
      {"non-ASCII name", {{"\xD0\x9A", 'C', 5, 0}}},
      {"duplicate ignoring case", {{"Tin", 'C', 5, 0}, {"TIN", 'C', 5, 0}}},
      {"C of width 0", {{"A", 'C', 0, 0}}},
      {"C of width 256", {{"A", 'C', 256, 0}}},
      {"C with decimals", {{"A", 'C', 5, 2}}},
      {"N wider than 20", {{"A", 'N', 21, 0}}},
      {"N decimals as wide as the column", {{"A", 'N', 4, 4}}},
      {"negative decimals", {{"A", 'N', 4, -1}}},
      {"D of width 10", {{"A", 'D', 10, 0}}},
      {"L of width 2", {{"A", 'L', 2, 0}}},
      {"memo column", {{"A", 'M', 10, 0}}},
  };
  for (const auto& [name, specs] : cases) {
    SCOPED_TRACE(name);
    EXPECT_THROW(NewLayout(specs, 0xC9), TableError);
  }
}

TEST(DbfFormatTest, SerializedNewTableFollowsTheWriterRules) {
  const std::vector<FieldSpec> specs = {
      {"np", 'N', 5, 0}, {"TIN", 'C', 10, 0}, {"S_DOX", 'N', 12, 2}, {"D_PRIYN", 'D', 8, 0}};
  const DbfLayout layout = NewLayout(specs, 0xC9);
  const std::string record(layout.record_length, ' ');
  const std::string bytes = SerializeDbf(layout, 2, record + record, {2024, 7, 9, 10, 11, 12});

  const std::size_t header_length = 32 + 32 * 4 + 1;
  EXPECT_EQ(layout.record_length, 1u + 5 + 10 + 12 + 8);
  ASSERT_EQ(bytes.size(), header_length + 2 * layout.record_length + 1);
  EXPECT_EQ(bytes[0], 0x03);
  EXPECT_EQ(bytes.substr(1, 3), std::string("\x7C\x07\x09", 3));  // 2024-1900 = 124
  EXPECT_EQ(bytes.substr(4, 4), std::string("\x02\x00\x00\x00", 4));
  EXPECT_EQ(static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8,
            static_cast<int>(header_length));
  EXPECT_EQ(static_cast<unsigned char>(bytes[29]), 0xC9);
  EXPECT_EQ(bytes.substr(12, 17), std::string(17, '\0'));
  EXPECT_EQ(bytes.substr(30, 2), std::string(2, '\0'));
  EXPECT_EQ(bytes.substr(32, 11), std::string("NP\0\0\0\0\0\0\0\0\0", 11));  // upper case
  EXPECT_EQ(bytes[header_length - 1], 0x0D);
  EXPECT_EQ(bytes.back(), 0x1A);

  // What we write, we read back the same.
  const DbfImage image = ParseDbf(bytes, kLabel);
  EXPECT_EQ(image.record_count, 2u);
  ASSERT_EQ(image.layout.fields.size(), 4u);
  EXPECT_EQ(image.layout.fields[2].decimals, 2);
  EXPECT_EQ(image.layout.fields[3].offset, 1 + 5 + 10 + 12);
}

TEST(DbfFormatTest, RewriteKeepsTheForeignHeader) {
  ImageOptions options;
  options.version = 0x30;
  options.code_page_byte = 0x65;
  options.extra_header_bytes = 263;
  std::string original = ValidImage(options);
  original[30] = 0x11;  // reserved bytes that a foreign writer filled
  const DbfImage image = ParseDbf(original, kLabel);
  const std::string rewritten =
      SerializeDbf(image.layout, 1, image.records.substr(0, kRecordLength), {2030, 12, 31});
  ASSERT_EQ(rewritten.size(), kHeaderLength + 263 + kRecordLength + 1);
  EXPECT_EQ(rewritten.substr(1, 3), "\x82\x0C\x1F");
  EXPECT_EQ(rewritten.substr(4, 4), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(rewritten[0], original[0]);
  EXPECT_EQ(rewritten.substr(8, kHeaderLength + 263 - 8),
            original.substr(8, kHeaderLength + 263 - 8));
}

// Every prefix of a valid image, and images with bytes changed at random (a fixed seed, so runs
// repeat), either parse or raise TableError; whatever parses decodes without reading outside
// its records. Built with sanitizers, this shows that no input makes the parser read out of
// bounds.
TEST(DbfFormatTest, DamagedImagesNeverReadOutOfBounds) {
  ImageOptions options;
  options.extra_header_bytes = 3;
  const std::string valid = ValidImage(options);

  int parsed = 0;
  int refused = 0;
  const auto try_parse = [&](const std::string& bytes) {
    // A copy of exactly the bytes given, so that a read past them is a heap overflow.
    const std::string exact(bytes.begin(), bytes.end());
    try {
      const DbfImage image = ParseDbf(exact, kLabel);
      ASSERT_EQ(image.records.size(),
                static_cast<std::size_t>(image.record_count) * image.layout.record_length);
      for (std::uint32_t r = 0; r < image.record_count; ++r) {
        const char* record = image.records.data() + std::size_t{r} * image.layout.record_length;
        for (const FieldDef& field : image.layout.fields) {
          ASSERT_LE(static_cast<std::size_t>(field.offset + field.width),
                    image.layout.record_length);
          try {
            DecodeField(field, record, image.layout.code_page);
          } catch (const ValueError&) {
          }
        }
      }
      ++parsed;
    } catch (const TableError&) {
      ++refused;
    } catch (const std::exception& error) {
      ADD_FAILURE() << "unexpected exception: " << error.what();
    }
  };

  for (std::size_t length = 0; length <= valid.size(); ++length) {
    try_parse(valid.substr(0, length));
  }
  std::mt19937 random(20240131);
  std::uniform_int_distribution<std::size_t> position(0, valid.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> flips(1, 4);
  for (int round = 0; round < 600; ++round) {
    std::string bytes = valid;
    const int count = flips(random);
    for (int i = 0; i < count; ++i) {
      // Half of the changes go into the header, where they matter most.
      const std::size_t at = i % 2 == 0 ? position(random) % 48 : position(random);
      bytes[at] = static_cast<char>(byte(random));
    }
    try_parse(bytes);
  }
  // Both outcomes occur, so the loop exercised the checks and the decoding alike.
  EXPECT_GT(parsed, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace tables
