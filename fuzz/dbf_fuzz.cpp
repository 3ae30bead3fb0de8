// Fuzz target for the DBF reader: any bytes as a table file. Parses them, decodes every field of
// every record and writes each value back into a scratch record, then opens the same bytes as a
// Table from a file, walks it, filters it, edits it and reads the written file back.
// Properties checked beyond "no crash, no sanitizer report, no unexpected exception":
// - a value read from a field and written back reads back the same (numbers within the
//   rounding of the column's decimals): a number is never cut;
// - a file that parses opens as a table, and what the table writes back parses again with one
//   record more.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tables/dbf_format.h"
#include "tables/field_codec.h"
#include "tables/table.h"
#include "tables/table_error.h"

namespace {

using tables::DbfImage;
using tables::FieldDef;
using tables::Value;

bool SameValue(const FieldDef& field, const Value& a, const Value& b) {
  if (a.blank() || b.blank()) return a.blank() && b.blank();
  switch (field.type) {
    case 'N':
    case 'F': {
      const double x =
          a.kind() == Value::Kind::kInteger ? static_cast<double>(a.integer()) : a.real();
      const double y =
          b.kind() == Value::Kind::kInteger ? static_cast<double>(b.integer()) : b.real();
      // Writing rounds to the column's decimals; the decimal text of a double carries at most
      // 17 significant digits.
      const double step = std::pow(10.0, -std::min(field.decimals, 300));
      return std::fabs(x - y) <= step / 2 + std::fabs(x) * 1e-15;
    }
    case 'D':
      return a.kind() == b.kind() && a.date() == b.date();
    case 'L':
      return a.kind() == b.kind() && a.logical() == b.logical();
    default:
      return a.kind() == b.kind() && a.text() == b.text();
  }
}

// Decodes every field and writes the value back into a scratch record of the same layout.
void CheckFieldRoundTrips(const DbfImage& image) {
  const tables::DbfLayout& layout = image.layout;
  fuzz::Require(
      image.records.size() == static_cast<std::size_t>(image.record_count) * layout.record_length,
      "the record area holds record_count records");
  for (const FieldDef& field : layout.fields) {
    fuzz::Require(
        field.offset >= 1 && field.width >= 1 &&
            static_cast<std::uint32_t>(field.offset + field.width) <= layout.record_length,
        "every column lies inside the record");
  }
  std::string scratch(layout.record_length, ' ');
  for (std::uint32_t r = 0; r < image.record_count; ++r) {
    const char* record = image.records.data() + static_cast<std::size_t>(r) * layout.record_length;
    for (const FieldDef& field : layout.fields) {
      Value value;
      try {
        value = tables::DecodeField(field, record, layout.code_page);
      } catch (const tables::ValueError&) {
        continue;  // malformed bytes are reported, which is all a reader can do
      }
      try {
        tables::EncodeField(field, value, scratch.data(), layout.code_page);
      } catch (const tables::ValueError&) {
        continue;  // e.g. a number written too wide for its column by another program
      }
      Value again;
      try {
        again = tables::DecodeField(field, scratch.data(), layout.code_page);
      } catch (const tables::ValueError&) {
        fuzz::Require(false, "a value we wrote reads back");
      }
      fuzz::Require(SameValue(field, value, again), "a value we wrote reads back unchanged");
    }
  }
}

void ReadEveryColumn(tables::Table& table) {
  for (int i = 0; i < table.FieldCount(); ++i) {
    tables::Field field = table.FieldAt(i);
    try {
      field.AsValue();
    } catch (const tables::TableError&) {
    }
    try {
      field.AsString();
    } catch (const tables::TableError&) {
    }
    try {
      field.AsInteger();
    } catch (const tables::TableError&) {
    }
  }
}

// Opens the bytes as a table the way the merge opens its work table (exclusive, ordered by TIN
// when there is such a column), walks and filters it, appends a copy of the first record and
// closes it, which writes the file back.
void CheckTable(const std::string& bytes, const DbfImage* image) {
  static const std::string path = fuzz::ScratchPath("table.dbf");
  fuzz::WriteScratch(path, bytes);
  tables::Table table("FuzzTable");
  table.SetFileName(path);
  table.SetExclusive(true);
  bool has_tin = false;
  if (image != nullptr) {
    for (const FieldDef& field : image->layout.fields) {
      if (field.name == "TIN") has_tin = true;
    }
  }
  if (has_tin) table.SetIndexName("TIN");
  try {
    table.Open();
  } catch (const tables::TableError&) {
    fuzz::Require(image == nullptr, "a file that parses opens as a table");
    return;
  }
  fuzz::Require(image != nullptr, "a file that opens as a table parses");

  const std::int64_t count = table.RecordCount();
  table.First();
  for (std::int64_t i = 0; i < count; ++i) {
    ReadEveryColumn(table);
    table.Next();
  }

  // A filter on the first column, and for report tables the merge's own kind of filter, which
  // is answered from the TIN index.
  std::string tin;
  if (has_tin) {
    table.First();
    try {
      tin = table.FieldByName("TIN").AsString();
    } catch (const tables::TableError&) {
    }
  }
  for (const std::string& text :
       {table.FieldName(0) + " IS NULL", "TIN='" + tin + "' and (OZN_DOX=1 OR OZN_DOX=2)"}) {
    try {
      table.SetFilter(text);
      table.SetFiltered(true);
      const std::int64_t matching = table.RecordCount();
      fuzz::Require(matching <= count, "a filter never shows more records than there are");
      if (matching > 0) ReadEveryColumn(table);
    } catch (const tables::TableError&) {
    }
    table.SetFiltered(false);
  }
  table.SetFilter("");

  if (table.read_only()) return;
  table.First();
  std::vector<Value> first(static_cast<std::size_t>(table.FieldCount()));
  for (int i = 0; i < table.FieldCount(); ++i) {
    try {
      first[static_cast<std::size_t>(i)] = table.FieldAt(i).AsValue();
    } catch (const tables::TableError&) {
    }
  }
  table.Append();
  for (int i = 0; i < table.FieldCount(); ++i) {
    try {
      table.FieldAt(i).SetValue(first[static_cast<std::size_t>(i)]);
    } catch (const tables::TableError&) {
    }
  }
  table.Post();
  table.Close();

  DbfImage written;
  try {
    written = tables::ParseDbf(platform::ReadWholeFile(path), path);
  } catch (const tables::TableError&) {
    fuzz::Require(false, "a table we wrote back parses");
  }
  fuzz::Require(written.record_count == image->record_count + 1,
                "the written table holds the appended record");
  fuzz::Require(written.layout.fields.size() == image->layout.fields.size(),
                "the written table keeps its columns");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  DbfImage image;
  bool parsed = true;
  try {
    image = tables::ParseDbf(bytes, "fuzz.dbf");
  } catch (const tables::TableError&) {
    parsed = false;
  }
  if (parsed) CheckFieldRoundTrips(image);
  CheckTable(bytes, parsed ? &image : nullptr);
  return 0;
}
