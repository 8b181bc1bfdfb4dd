#include "app/report.h"

#include "base/process.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor {

void report_outcome(UpgradeRun& run, Outcome outcome) {
  if (outcome == Outcome::none) return;
  if (RunScope* scope = current_run_scope(); scope && scope->ending()) return;
  run.outcome.store(outcome);
  if (const char* message = texts::outcome_message(outcome)) show_error(message);
}

void finish_run(UpgradeRun& run, Outcome outcome) {
  report_outcome(run, outcome);
  end_run();
}

}  // namespace qor
