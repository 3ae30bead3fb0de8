// The result pass: writes the merged records into the result table in TIN order, numbered from
// 1 and stamped with the period, and sums the money columns.
#pragma once

#include "merge/job_context.h"

namespace merge {

void WriteResultTable(JobContext& job);

}  // namespace merge
