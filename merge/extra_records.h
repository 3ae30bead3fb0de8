// The extra rows that the settings file "Zuvrex5.INI" asks for in every result.
#pragma once

#include "merge/job_context.h"

namespace merge {

void AppendExtraRecords(JobContext& job);

}  // namespace merge
