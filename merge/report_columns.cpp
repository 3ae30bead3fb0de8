#include "merge/report_columns.h"

#include "tables/report_layout.h"

namespace merge {

const char* ColumnName(Column column) {
  static constexpr std::array<const char*, kColumnCount> kNames = {
      tables::kColumnNP,      tables::kColumnPERIOD,  tables::kColumnRIK,
      tables::kColumnKOD,     tables::kColumnTYP,     tables::kColumnTIN,
      tables::kColumnS_NAR,   tables::kColumnS_DOX,   tables::kColumnS_TAXN,
      tables::kColumnS_TAXP,  tables::kColumnOZN_DOX, tables::kColumnD_PRIYN,
      tables::kColumnD_ZVILN, tables::kColumnOZN_PILG};
  return kNames[static_cast<std::size_t>(column)];
}

tables::Field ReportColumns::LookUp(Column column) {
  std::optional<tables::Field>& field = fields_[static_cast<std::size_t>(column)];
  field = table_.FieldByName(ColumnName(column));
  return *field;
}

}  // namespace merge
