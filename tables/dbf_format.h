// The dBASE (.DBF) file layout: parsing a whole file image into columns and raw records, and
// writing one back. Knows bytes, not values (field_codec.h turns field bytes into values).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/os.h"

namespace tables {

// One column as the file describes it.
struct FieldDef {
  std::string name;  // as stored (ASCII), without the NUL padding
  char type = 'C';   // 'C', 'N', 'F', 'D', 'L'; any other letter is read as raw text
  int width = 0;     // bytes in the record
  int decimals = 0;
  int offset = 0;  // of the first byte within the record, the deletion flag being byte 0
};

// A column to create in a new table.
struct FieldSpec {
  std::string name;
  char type;
  int width;
  int decimals;
};

struct DbfLayout {
  std::vector<FieldDef> fields;
  std::uint32_t header_length = 0;
  std::uint32_t record_length = 0;
  std::uint8_t code_page_byte = 0;  // byte 29, the language driver
  platform::CodePage code_page = platform::CodePage::kCp1251;
  // The header block as read (header_length bytes): written back verbatim apart from the
  // update date and the record count, so that version, code page and anything a
  // foreign writer put there survive a rewrite.
  std::string header_bytes;
};

// The code page that a language-driver byte names; unknown bytes mean Windows-1251.
platform::CodePage CodePageFromByte(std::uint8_t byte);

struct DbfImage {
  DbfLayout layout;
  std::uint32_t record_count = 0;
  std::string records;  // record_count * record_length bytes, deleted records included
};

// Parses a whole file image. `file_label` names the file in error messages. Raises TableError
// for anything that would make reading unsafe or wrong: a truncated header or record area,
// a missing descriptor terminator, a record length too small for the columns, a zero column
// count, impossible widths, duplicate column names, dBASE 7 files. Tolerates the quirks that
// other programs write (extra header bytes, a missing end-of-file mark, trailing junk, header
// counts smaller than the records present).
DbfImage ParseDbf(std::string_view bytes, const std::string& file_label);
// The same, taking over the buffer of a whole file read into memory for the records.
DbfImage ParseDbf(std::string&& bytes, const std::string& file_label);

// A new, empty dBASE III table layout with these columns. Raises TableError on invalid specs
// (names longer than 10 characters or not unique, widths out of range).
DbfLayout NewLayout(const std::vector<FieldSpec>& specs, std::uint8_t code_page_byte);

// The byte that follows the last record.
inline constexpr char kEndOfFileMark = 0x1A;

// The header block for `layout` holding `record_count` records, stamped with `today` as the
// last-update date. A file is this header, the records, and kEndOfFileMark.
std::string SerializeHeader(const DbfLayout& layout, std::uint32_t record_count,
                            const platform::LocalTime& today);

// The complete file image for `layout` and `records` (record_count * record_length bytes),
// stamped with `today` as the last-update date, ended by the 0x1A mark.
std::string SerializeDbf(const DbfLayout& layout, std::uint32_t record_count,
                         std::string_view records, const platform::LocalTime& today);

}  // namespace tables
