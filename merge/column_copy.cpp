#include "merge/column_copy.h"

namespace merge {
namespace {

std::optional<tables::Field> FindColumn(tables::Table& table, const std::string& name) {
  const int position = table.FindField(name);
  if (position < 0) return std::nullopt;
  return table.FieldAt(position);
}

}  // namespace

ColumnCopy::ColumnCopy(tables::Table& names_from, tables::Table& source, tables::Table& target) {
  const int count = names_from.FieldCount();
  columns_.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Column column;
    column.name = names_from.FieldName(i);
    column.source = FindColumn(source, column.name);
    column.target = FindColumn(target, column.name);
    columns_.push_back(std::move(column));
  }
}

}  // namespace merge
