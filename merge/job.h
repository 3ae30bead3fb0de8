// The merge job: one run from preparing the work table to delivering the result and saving the
// run log.
#pragma once

#include <string>
#include <vector>

#include "log/run_log.h"
#include "platform/os.h"
#include "tables/table_set.h"

namespace merge {

// Runs the whole job for `arguments` (argument 0 the program, then the input files, last the
// period number). Failures the job survives are shown or logged where they happen; every other
// failure propagates as an exception. Returns true when the job reached its end with the result
// delivered over the first input, false when the copy failed (the log files are written then).
bool MergeReports(tables::TDataModule1& data, runlog::RunLog& log,
                  const std::vector<std::string>& arguments);

// The time stamp line: "dd.mm.yyyy  hh:nn:ss".
std::string TimeStampLine(const platform::LocalTime& time);

}  // namespace merge
