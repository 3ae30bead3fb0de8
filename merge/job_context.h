// What one run of the merge job works with: the table set, the run log, the command line, and
// the job-wide values that live exactly as long as the job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "log/run_log.h"
#include "merge/column_copy.h"
#include "merge/match_filter.h"
#include "merge/report_columns.h"
#include "tables/table_set.h"

namespace merge {

// The four money sums of the merged rows, for the total row.
struct ResultTotals {
  double dox = 0;
  double nar = 0;
  double taxn = 0;
  double taxp = 0;
};

struct JobContext {
  JobContext(tables::TDataModule1& data_module, runlog::RunLog& run_log,
             const std::vector<std::string>& args, std::string directory)
      : data(data_module),
        log(run_log),
        arguments(args),
        executable_directory(std::move(directory)),
        input(data_module.Table1),
        work(data_module.TableSorted),
        result(data_module.TableRez) {}

  tables::TDataModule1& data;
  runlog::RunLog& log;
  // The process arguments, argument 0 being the program: inputs are 1..n-1, the period n.
  const std::vector<std::string>& arguments;
  // Where the installed tables, the settings file and the log files live; ends in a separator.
  std::string executable_directory;

  std::int32_t PeriodNumber = 0;
  std::int64_t AddedCount = 0;
  std::int64_t EditedCount = 0;
  ResultTotals totals;
  bool delivered = false;

  // The report columns of the three tables; those of the input table are forgotten when it is
  // bound to the next file.
  ReportColumns input;
  ReportColumns work;
  ReportColumns result;
  // How the current input file's columns map onto the work table; set up when the file's first
  // new work record needs it.
  std::optional<ColumnCopy> input_copy;
  // Where the work table's match columns are; looked up for the first input row.
  std::optional<MatchColumns> match_columns;
  // The current row's match filter text.
  std::string match_filter;
};

}  // namespace merge
