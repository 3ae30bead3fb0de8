// Copying a record's columns by name from one table into another, as the input pass (input to
// work table) and the result pass (work to result table) do for every row. The names are looked
// up once, when the copy is set up, not once per row and column.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tables/table.h"

namespace merge {

class ColumnCopy {
 public:
  // For each column of `names_from` (either `source` or `target`), in file order: the column of
  // that name in `source` and in `target`, where they have one. Raises tables::TableError when
  // a table is not open.
  ColumnCopy(tables::Table& names_from, tables::Table& source, tables::Table& target);

  // Writes every named column of the current source record into the target record being
  // appended. A column that one of the tables lacks is left as it is and reported to
  // `on_failure` with its name; the others are still copied. A value that cannot be read or
  // does not fit its target column (a TIN or a number too wide, damaged bytes) raises
  // tables::TableError naming the file, column and record: leaving it blank would deliver a
  // report that silently lost it.
  template <typename OnFailure>
  void CopyRecord(OnFailure&& on_failure) {
    for (Column& column : columns_) {
      if (!column.source || !column.target) {
        on_failure(column.name);
        continue;
      }
      column.target->SetFrom(*column.source);
    }
  }

 private:
  struct Column {
    std::string name;
    std::optional<tables::Field> source;
    std::optional<tables::Field> target;
  };
  std::vector<Column> columns_;
};

}  // namespace merge
