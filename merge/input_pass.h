// The input pass: merges the rows of one input file into the work table.
#pragma once

#include <string>

#include "merge/job_context.h"

namespace merge {

// Opens `argument` as the input table and merges each of its ordinary rows into the work table.
void MergeInputFile(JobContext& job, const std::string& argument);

// Merges the current input row. Returns true when the rest of the file is to be skipped
// (the work table could not apply the row's filter).
bool MergeInputRecord(JobContext& job);

}  // namespace merge
