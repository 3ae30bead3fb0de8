#include "tables/dbf_format.h"

#include <cctype>
#include <cstring>
#include <set>

#include "tables/table_error.h"

namespace tables {
namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr char kHeaderTerminator = 0x0D;
constexpr std::uint8_t kDbase3Version = 0x03;

std::uint32_t ReadU16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

std::uint32_t ReadU32(std::string_view bytes, std::size_t at) {
  return ReadU16(bytes, at) | ReadU16(bytes, at + 2) << 16;
}

void WriteU16(std::string& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void WriteU32(std::string& bytes, std::size_t at, std::uint32_t value) {
  WriteU16(bytes, at, value & 0xFFFF);
  WriteU16(bytes, at + 2, value >> 16);
}

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

[[noreturn]] void Fail(const std::string& file_label, const std::string& what) {
  throw TableError(file_label + ": " + what);
}

// dBASE level 7 files have a 68-byte header and 48-byte field descriptors; reading them with the
// 32-byte layout would produce nonsense columns, so they are recognised and refused. The
// terminator after the descriptors need not end the header: a block of field properties may
// follow it, so every place where a terminator could stand is tried.
bool LooksLikeDbase7(std::string_view bytes, std::uint32_t header_length) {
  constexpr std::size_t kDbase7HeaderSize = 68;
  constexpr std::size_t kDbase7DescriptorSize = 48;
  const auto version = static_cast<unsigned char>(bytes[0]);
  if ((version & 0x07) != 4) return false;
  for (std::size_t at = kDbase7HeaderSize + kDbase7DescriptorSize; at < header_length;
       at += kDbase7DescriptorSize) {
    if (bytes[at] == kHeaderTerminator) return true;
  }
  return false;
}

}  // namespace

platform::CodePage CodePageFromByte(std::uint8_t byte) {
  switch (byte) {
    case 0x26:
    case 0x65:
      return platform::CodePage::kCp866;
    default:
      return platform::CodePage::kCp1251;
  }
}

namespace {

// Checks the whole image and fills everything of `image` but its records.
void ParseLayout(std::string_view bytes, const std::string& file_label, DbfImage& image) {
  if (bytes.size() < kHeaderSize) {
    Fail(file_label, "not a dBASE table: the file is shorter than a table header (" +
                         std::to_string(bytes.size()) + " bytes)");
  }
  DbfLayout& layout = image.layout;
  image.record_count = ReadU32(bytes, 4);
  layout.header_length = ReadU16(bytes, 8);
  layout.record_length = ReadU16(bytes, 10);
  layout.code_page_byte = static_cast<std::uint8_t>(bytes[29]);
  layout.code_page = CodePageFromByte(layout.code_page_byte);

  if (layout.header_length > bytes.size()) {
    Fail(file_label, "the table is truncated: its header says " +
                         std::to_string(layout.header_length) + " header bytes, the file has " +
                         std::to_string(bytes.size()));
  }
  if (LooksLikeDbase7(bytes, layout.header_length)) {
    Fail(file_label, "dBASE level 7 tables are not supported");
  }

  std::size_t at = kHeaderSize;
  std::size_t next_offset = 1;
  std::set<std::string> names;
  while (true) {
    if (at >= layout.header_length) {
      Fail(file_label, "not a dBASE table: the column list has no end mark within the header");
    }
    if (bytes[at] == kHeaderTerminator) break;
    if (at + kDescriptorSize > layout.header_length) {
      Fail(file_label, "not a dBASE table: the header is too short for its column list");
    }
    const std::string_view descriptor = bytes.substr(at, kDescriptorSize);
    FieldDef field;
    const std::string_view raw_name = descriptor.substr(0, 11);
    field.name = std::string(raw_name.substr(0, raw_name.find('\0')));
    field.type = descriptor[11];
    field.width = static_cast<unsigned char>(descriptor[16]);
    field.decimals = static_cast<unsigned char>(descriptor[17]);
    field.offset = static_cast<int>(next_offset);
    const std::string column = "column " + std::to_string(layout.fields.size() + 1);
    if (field.name.empty()) Fail(file_label, column + " has no name");
    for (char c : field.name) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 32 || u == 127) Fail(file_label, column + " has an unreadable name");
    }
    if (field.width == 0) Fail(file_label, "column '" + field.name + "' has width 0");
    if (field.type == 'D' && field.width != 8) {
      Fail(file_label, "date column '" + field.name + "' has width " + std::to_string(field.width) +
                           " instead of 8");
    }
    if (!names.insert(UpperAscii(field.name)).second) {
      Fail(file_label, "column name '" + field.name + "' appears twice");
    }
    next_offset += static_cast<std::size_t>(field.width);
    layout.fields.push_back(std::move(field));
    at += kDescriptorSize;
  }
  if (layout.fields.empty()) Fail(file_label, "the table has no columns");
  if (layout.record_length < next_offset) {
    Fail(file_label, "the record length " + std::to_string(layout.record_length) +
                         " is smaller than its columns need (" + std::to_string(next_offset) + ")");
  }

  const std::uint64_t available = bytes.size() - layout.header_length;
  const std::uint64_t needed =
      static_cast<std::uint64_t>(image.record_count) * layout.record_length;
  if (needed > available) {
    Fail(file_label, "the table is truncated: its header says " +
                         std::to_string(image.record_count) + " records, the file holds " +
                         std::to_string(available / layout.record_length));
  }
  layout.header_bytes = std::string(bytes.substr(0, layout.header_length));
}

}  // namespace

DbfImage ParseDbf(std::string_view bytes, const std::string& file_label) {
  DbfImage image;
  ParseLayout(bytes, file_label, image);
  image.records = std::string(
      bytes.substr(image.layout.header_length,
                   static_cast<std::size_t>(image.record_count) * image.layout.record_length));
  return image;
}

DbfImage ParseDbf(std::string&& bytes, const std::string& file_label) {
  DbfImage image;
  ParseLayout(bytes, file_label, image);
  // The file's own buffer becomes the record area: no second copy of a large table.
  bytes.resize(image.layout.header_length +
               static_cast<std::size_t>(image.record_count) * image.layout.record_length);
  bytes.erase(0, image.layout.header_length);
  image.records = std::move(bytes);
  return image;
}

DbfLayout NewLayout(const std::vector<FieldSpec>& specs, std::uint8_t code_page_byte) {
  const std::string label = "new table";
  if (specs.empty()) Fail(label, "a table needs at least one column");
  DbfLayout layout;
  layout.code_page_byte = code_page_byte;
  layout.code_page = CodePageFromByte(code_page_byte);
  layout.header_length =
      static_cast<std::uint32_t>(kHeaderSize + kDescriptorSize * specs.size() + 1);
  if (layout.header_length > 0xFFFF) Fail(label, "too many columns");

  std::set<std::string> names;
  std::size_t offset = 1;
  for (const FieldSpec& spec : specs) {
    FieldDef field{UpperAscii(spec.name), spec.type, spec.width, spec.decimals,
                   static_cast<int>(offset)};
    const std::string what = "column '" + spec.name + "'";
    if (field.name.empty() || field.name.size() > 10) Fail(label, what + ": name length 1..10");
    for (char c : field.name) {
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
        Fail(label, what + ": names are ASCII letters, digits and '_'");
      }
    }
    if (!names.insert(field.name).second) Fail(label, what + " appears twice");
    bool valid = true;
    switch (spec.type) {
      case 'C':
        valid = spec.width >= 1 && spec.width <= 255 && spec.decimals == 0;
        break;
      case 'N':
      case 'F':
        valid = spec.width >= 1 && spec.width <= 20 && spec.decimals >= 0 &&
                (spec.decimals == 0 || spec.decimals < spec.width - 1);
        break;
      case 'D':
        valid = spec.width == 8 && spec.decimals == 0;
        break;
      case 'L':
        valid = spec.width == 1 && spec.decimals == 0;
        break;
      default:
        valid = false;
    }
    if (!valid) Fail(label, what + ": invalid type, width or decimals");
    offset += static_cast<std::size_t>(spec.width);
    layout.fields.push_back(field);
  }
  if (offset > 0xFFFF) Fail(label, "records longer than 65535 bytes");
  layout.record_length = static_cast<std::uint32_t>(offset);

  std::string& header = layout.header_bytes;
  header.assign(layout.header_length, '\0');
  header[0] = static_cast<char>(kDbase3Version);
  WriteU16(header, 8, layout.header_length);
  WriteU16(header, 10, layout.record_length);
  header[29] = static_cast<char>(code_page_byte);
  std::size_t at = kHeaderSize;
  for (const FieldDef& field : layout.fields) {
    std::memcpy(&header[at], field.name.data(), field.name.size());
    header[at + 11] = field.type;
    header[at + 16] = static_cast<char>(field.width);
    header[at + 17] = static_cast<char>(field.decimals);
    at += kDescriptorSize;
  }
  header[at] = kHeaderTerminator;
  return layout;
}

std::string SerializeHeader(const DbfLayout& layout, std::uint32_t record_count,
                            const platform::LocalTime& today) {
  std::string header = layout.header_bytes;
  header[1] = static_cast<char>((today.year - 1900) & 0xFF);
  header[2] = static_cast<char>(today.month);
  header[3] = static_cast<char>(today.day);
  WriteU32(header, 4, record_count);
  return header;
}

std::string SerializeDbf(const DbfLayout& layout, std::uint32_t record_count,
                         std::string_view records, const platform::LocalTime& today) {
  std::string out = SerializeHeader(layout, record_count, today);
  out.reserve(out.size() + records.size() + 1);
  out.append(records.data(), records.size());
  out.push_back(kEndOfFileMark);
  return out;
}

}  // namespace tables
