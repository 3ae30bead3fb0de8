// The one exception type of the table component. Its message names the table (file) and, where
// it applies, the column and record: "sorted.DBF: column 'S_DOX' of record 12: '12abc' is not a
// number".
#pragma once

#include <stdexcept>
#include <string>

namespace tables {

class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tables
