#include "tables/table_set.h"

#include <string>

#include "platform/os.h"
#include "tables/report_layout.h"

namespace tables {

TDataModule1::TDataModule1() : Table1("Table1"), TableSorted("TableSorted"), TableRez("TableRez") {
  const std::string current_directory = std::string(".") + platform::PathSeparator();
  Table1.SetDirectory(current_directory);
  Table1.SetFileName(kTemplateFileName);
  // Inputs are only read; opening them for reading lets a report that is open in another
  // program be merged all the same.
  Table1.SetReadOnly(true);

  TableSorted.SetDirectory(current_directory);
  TableSorted.SetFileName(kSortedFileName);
  TableSorted.SetExclusive(true);
  TableSorted.SetIndexName(kTinIndexName);

  TableRez.SetDirectory(current_directory);
  TableRez.SetFileName(kTemplateFileName);
  TableRez.SetExclusive(true);
}

}  // namespace tables
