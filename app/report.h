// The one place where how a run ended becomes what the user is told.
#pragma once

#include "base/outcome.h"
#include "base/run.h"

namespace qor {

// Records the outcome in the run and shows its message with the error box, when it has one. A thread
// of a run that has ended already (one device among several) reports nothing more.
void report_outcome(UpgradeRun& run, Outcome outcome);

// Reports the outcome and ends the run (end_run): alone in the process, the process ends with status 0,
// from the calling thread.
[[noreturn]] void finish_run(UpgradeRun& run, Outcome outcome);

}  // namespace qor
