// The total row that closes the result, and the delivery of the result over the first input.
#pragma once

#include "merge/job_context.h"

namespace merge {

// Appends the total row and closes the result table.
void AppendTotalRecord(JobContext& job);

// Replaces the first input file with the result table file and logs the outcome; a failed copy
// is only logged (job.delivered stays false).
void DeliverResult(JobContext& job);

}  // namespace merge
