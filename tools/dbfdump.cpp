// dbfdump: prints a dBASE table as an aligned text table or as CSV: its columns with their
// types, then every record, deleted ones marked with '*'. For looking at reports and results.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "tables/dbf_format.h"
#include "tables/field_codec.h"

namespace {

constexpr char kUsage[] =
    "usage: dbfdump [--csv] FILE.DBF\n"
    "Prints the table's columns and records (deleted records marked '*').\n";

std::string CellText(const tables::FieldDef& field, const char* record, platform::CodePage page) {
  try {
    const tables::Value value = tables::DecodeField(field, record, page);
    switch (value.kind()) {
      case tables::Value::Kind::kBlank:
        return std::string();
      case tables::Value::Kind::kInteger:
        return std::to_string(value.integer());
      case tables::Value::Kind::kFloat: {
        // Show numbers with the column's decimals, as they stand in the file.
        std::string text(static_cast<std::size_t>(field.width), ' ');
        tables::FormatNumberField(value.real(), field.width, field.decimals, text.data());
        return std::string(text.substr(text.find_first_not_of(' ')));
      }
      case tables::Value::Kind::kDate:
        return tables::FormatDateText(value.date());
      case tables::Value::Kind::kLogical:
        return value.logical() ? "T" : "F";
      case tables::Value::Kind::kText:
        return value.text();
    }
  } catch (const std::exception&) {
    // A damaged value is shown as its raw bytes, marked, rather than hiding the whole table.
  }
  return "!" +
         platform::DecodeToUtf8(
             std::string_view(record + field.offset, static_cast<std::size_t>(field.width)), page);
}

std::string TypeText(const tables::FieldDef& field) {
  std::string text(1, field.type);
  text += std::to_string(field.width);
  if (field.decimals > 0) text += "." + std::to_string(field.decimals);
  return text;
}

// Characters on the screen, not bytes: UTF-8 continuation bytes take no room.
std::size_t DisplayWidth(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string CsvQuoted(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool IsNumeric(char type) { return type == 'N' || type == 'F'; }

}  // namespace

int main(int argc, char** argv) {
  bool csv = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--csv") {
      csv = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (path.empty()) {
      path = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (path.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    const tables::DbfImage image = tables::ParseDbf(platform::ReadWholeFile(path), path);
    const tables::DbfLayout& layout = image.layout;
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"DEL"});
    rows.push_back({""});
    for (const tables::FieldDef& field : layout.fields) {
      rows[0].push_back(field.name);
      rows[1].push_back(TypeText(field));
    }
    for (std::uint32_t r = 0; r < image.record_count; ++r) {
      const char* record = image.records.data() + std::size_t{r} * layout.record_length;
      std::vector<std::string> row{record[0] == '*' ? "*" : ""};
      for (const tables::FieldDef& field : layout.fields) {
        row.push_back(CellText(field, record, layout.code_page));
      }
      rows.push_back(std::move(row));
    }
    if (csv) {
      for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r == 1) continue;  // the types line is for people, not for CSV readers
        std::string line;
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
          if (c > 0) line += ',';
          line += CsvQuoted(rows[r][c]);
        }
        std::printf("%s\n", line.c_str());
      }
      return 0;
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
      for (std::size_t c = 0; c < row.size(); ++c)
        widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    std::printf("%s: %u records, %zu columns, code page byte 0x%02X\n", path.c_str(),
                image.record_count, layout.fields.size(), layout.code_page_byte);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      std::string line;
      for (std::size_t c = 0; c < rows[r].size(); ++c) {
        const std::string& cell = rows[r][c];
        const std::string pad(widths[c] - DisplayWidth(cell), ' ');
        const bool right = c > 0 && IsNumeric(layout.fields[c - 1].type);
        if (c > 0) line += ' ';
        line += right ? pad + cell : cell + pad;
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      std::printf("%s\n", line.c_str());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dbfdump: %s\n", error.what());
    return 1;
  }
  return 0;
}
