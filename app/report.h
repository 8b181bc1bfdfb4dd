// The one place where how a run ended becomes what the user is told.
#pragma once

#include "base/outcome.h"
#include "base/run.h"

namespace qor {

// Records the outcome in the run and shows its message with the error box, when it has one.
void report_outcome(UpgradeRun& run, Outcome outcome);

// Reports the outcome and ends the run: the process ends with status 0, from the calling thread.
[[noreturn]] void finish_run(UpgradeRun& run, Outcome outcome);

}  // namespace qor
