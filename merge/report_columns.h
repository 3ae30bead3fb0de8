// The report columns that the job reads and writes by name, looked up in a table once and then
// reused for every row: the merge touches a dozen columns per input row, a million rows a run.
#pragma once

#include <array>
#include <optional>

#include "tables/table.h"

namespace merge {

enum class Column {
  kNP,
  kPERIOD,
  kRIK,
  kKOD,
  kTYP,
  kTIN,
  kS_NAR,
  kS_DOX,
  kS_TAXN,
  kS_TAXP,
  kOZN_DOX,
  kD_PRIYN,
  kD_ZVILN,
  kOZN_PILG,
};
inline constexpr std::size_t kColumnCount = 14;

// The column's name ("NP", "S_DOX", ...).
const char* ColumnName(Column column);

// The report columns of one table as long as it stays bound to the same file.
class ReportColumns {
 public:
  explicit ReportColumns(tables::Table& table) : table_(table) {}

  // The column, looked up by name on first use. Raises tables::TableError when the table is
  // closed or has no such column (then the lookup is tried again next time).
  tables::Field operator[](Column column) {
    const std::optional<tables::Field>& field = fields_[static_cast<std::size_t>(column)];
    return field ? *field : LookUp(column);
  }

  // Forgets the columns; call when the table is bound to another file.
  void Reset() { fields_.fill(std::nullopt); }

 private:
  tables::Field LookUp(Column column);

  tables::Table& table_;
  std::array<std::optional<tables::Field>, kColumnCount> fields_;
};

}  // namespace merge
