// The table set of a run: the input table, the work table kept in TIN order, and the result
// table, with the settings they are created with. Destroying the set closes what is open.
#pragma once

#include "tables/table.h"

namespace tables {

class TDataModule1 {
 public:
  // The three tables exist, closed: each bound to its installed file name in the current
  // directory; the input table read-only, the work and result tables exclusive, the work table
  // ordered by its TIN index.
  TDataModule1();

  Table Table1;       // input: re-bound to each input file in turn
  Table TableSorted;  // work table: the merged records, in TIN order
  Table TableRez;     // result table: the report that is delivered
};

}  // namespace tables
