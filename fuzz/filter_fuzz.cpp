// Fuzz target for the filter language: the first byte picks the code page, the rest is a filter
// text, parsed against a fixed report layout (with a logical and a float column besides) and
// evaluated on a few records, well-formed and damaged.
// Property checked beyond "no crash, no sanitizer report, no unexpected exception": when the
// filter names a TIN key for index lookups, every record it matches holds exactly that TIN, so
// answering it from the index never loses or adds a record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tables/dbf_format.h"
#include "tables/field_codec.h"
#include "tables/filter.h"
#include "tables/report_layout.h"
#include "tables/table_error.h"

namespace {

using tables::FieldDef;
using tables::Value;

struct Fixture {
  std::vector<FieldDef> fields;
  int tin_index = -1;
  std::vector<std::string> records;
};

std::string RecordWith(const std::vector<FieldDef>& fields, std::uint32_t length,
                       const std::vector<std::pair<const char*, Value>>& values,
                       platform::CodePage page) {
  std::string record(length, ' ');
  for (const auto& [name, value] : values) {
    for (const FieldDef& field : fields) {
      if (field.name == name) tables::EncodeField(field, value, record.data(), page);
    }
  }
  return record;
}

Fixture MakeFixture(platform::CodePage page) {
  std::vector<tables::FieldSpec> specs = tables::ReportColumns();
  specs.push_back({"CHECKED", 'L', 1, 0});
  specs.push_back({"RATE", 'F', 10, 3});
  const tables::DbfLayout layout =
      tables::NewLayout(specs, page == platform::CodePage::kCp866 ? 0x65 : 0xC9);
  Fixture fixture;
  fixture.fields = layout.fields;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    if (layout.fields[i].name == tables::kColumnTIN) fixture.tin_index = static_cast<int>(i);
  }
  const std::uint32_t length = layout.record_length;
  fixture.records.push_back(std::string(length, ' '));  // all blank
  fixture.records.push_back(RecordWith(layout.fields, length,
                                       {{"NP", Value::Integer(1)},
                                        {"TIN", Value::Text("0123456789")},
                                        {"S_DOX", Value::Float(1500.5)},
                                        {"OZN_DOX", Value::Integer(1)},
                                        {"D_PRIYN", Value::FromDate({2010, 3, 15})},
                                        {"OZN_PILG", Value::Integer(1)},
                                        {"CHECKED", Value::Logical(true)},
                                        {"RATE", Value::Float(-0.125)}},
                                       page));
  fixture.records.push_back(RecordWith(layout.fields, length,
                                       {{"TIN", Value::Text("АБ123456*")},
                                        {"KOD", Value::Text("O'Brien")},
                                        {"OZN_DOX", Value::Integer(22)},
                                        {"D_ZVILN", Value::FromDate({1999, 12, 31})},
                                        {"CHECKED", Value::Logical(false)}},
                                       page));
  // Damaged bytes as other programs leave them: NUL padding, a comma decimal, stars, junk.
  std::string damaged(length, '\0');
  for (const FieldDef& field : layout.fields) {
    const std::string text = field.name == "S_NAR"     ? "  1,5"
                             : field.name == "S_DOX"   ? "*****"
                             : field.name == "NP"      ? "12abc"
                             : field.name == "D_PRIYN" ? "20101332"
                             : field.name == "CHECKED" ? "?"
                                                       : "";
    damaged.replace(static_cast<std::size_t>(field.offset),
                    std::min(text.size(), static_cast<std::size_t>(field.width)), text);
  }
  damaged[0] = ' ';
  fixture.records.push_back(damaged);
  return fixture;
}

std::string TrimmedField(const std::string& record, const FieldDef& field) {
  return std::string(tables::TrimTrailing(std::string_view(record).substr(
      static_cast<std::size_t>(field.offset), static_cast<std::size_t>(field.width))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const platform::CodePage page =
      (data[0] & 1) != 0 ? platform::CodePage::kCp866 : platform::CodePage::kCp1251;
  static const Fixture kFixtures[] = {MakeFixture(platform::CodePage::kCp1251),
                                      MakeFixture(platform::CodePage::kCp866)};
  const Fixture& fixture = kFixtures[page == platform::CodePage::kCp866 ? 1 : 0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  tables::Filter filter;
  try {
    filter = tables::Filter::Parse(text, fixture.fields, page, "fuzz.dbf");
  } catch (const tables::TableError&) {
    return 0;
  }
  const std::optional<std::string_view> key = filter.IndexKey(fixture.tin_index);
  const FieldDef& tin = fixture.fields[static_cast<std::size_t>(fixture.tin_index)];
  for (const std::string& record : fixture.records) {
    bool matches = false;
    try {
      matches = filter.Matches(record.data());
    } catch (const tables::ValueError&) {
      continue;  // the damaged record: malformed bytes are reported
    }
    if (matches && key) {
      fuzz::Require(TrimmedField(record, tin) == *key,
                    "a record the filter matches holds the filter's TIN key");
    }
  }
  return 0;
}
