#include "app/fleet_policy.h"

#include <cstdint>

#include "app/upgrade.h"

namespace qor {

const char* fleet_outcome_name(FleetOutcome outcome) {
  switch (outcome) {
    case FleetOutcome::pending:
      return "pending";
    case FleetOutcome::upgraded:
      return "upgraded";
    case FleetOutcome::skipped_current:
      return "skipped_current";
    case FleetOutcome::skipped_newer:
      return "skipped_newer";
    case FleetOutcome::declined:
      return "declined";
    case FleetOutcome::auth_failed:
      return "auth_failed";
    case FleetOutcome::unreachable:
      return "unreachable";
    case FleetOutcome::no_fetch:
      return "no_fetch";
    case FleetOutcome::upload_incomplete:
      return "upload_incomplete";
    case FleetOutcome::version_not_matching:
      return "version_not_matching";
    case FleetOutcome::no_response_after_flash:
      return "no_response_after_flash";
    case FleetOutcome::interrupted:
      return "interrupted";
    case FleetOutcome::not_started:
      return "not_started";
    case FleetOutcome::busy:
      return "busy";
    case FleetOutcome::local_error:
      return "local_error";
  }
  return "?";
}

bool ended_well(FleetOutcome outcome) {
  return outcome == FleetOutcome::upgraded || outcome == FleetOutcome::skipped_current ||
         outcome == FleetOutcome::skipped_newer;
}

bool counts_as_failure(FleetOutcome outcome) {
  switch (outcome) {
    case FleetOutcome::auth_failed:
    case FleetOutcome::unreachable:
    case FleetOutcome::no_fetch:
    case FleetOutcome::upload_incomplete:
    case FleetOutcome::version_not_matching:
    case FleetOutcome::no_response_after_flash:
    case FleetOutcome::local_error:
      return true;
    default:
      return false;
  }
}

FlashDecision decide_flash(const char* device_version, const char* carried_version, const FlashRule& rule) {
  const std::int32_t device = version_number(device_version ? device_version : "");
  const std::int32_t carried = version_number(carried_version ? carried_version : "");
  if (device == carried && !rule.force) return FlashDecision::skip_current;
  if (device > carried && !rule.allow_downgrade) return FlashDecision::skip_newer;
  return FlashDecision::flash;
}

FleetOutcome skip_outcome(FlashDecision decision) {
  switch (decision) {
    case FlashDecision::skip_current:
      return FleetOutcome::skipped_current;
    case FlashDecision::skip_newer:
      return FleetOutcome::skipped_newer;
    case FlashDecision::flash:
      break;
  }
  return FleetOutcome::pending;
}

FleetOutcome classify_run(const RunFacts& f) {
  switch (f.outcome) {
    case Outcome::upgraded:
      return FleetOutcome::upgraded;
    case Outcome::upload_incomplete:
      return FleetOutcome::upload_incomplete;
    case Outcome::version_not_matching:
      return FleetOutcome::version_not_matching;
    case Outcome::networking_failed:
    case Outcome::http_socket_failed:
    case Outcome::http_bind_failed:
    case Outcome::listener_alloc_failed:
    case Outcome::listener_socket_failed:
    case Outcome::listener_bind_failed:
    case Outcome::session_alloc_failed:
      return FleetOutcome::local_error;
    default:
      break;
  }
  if (f.password_refused) return FleetOutcome::auth_failed;
  if (f.declined) return FleetOutcome::declined;
  if (f.interrupted) return f.released ? FleetOutcome::interrupted : FleetOutcome::not_started;
  if (!f.released) return FleetOutcome::unreachable;
  // Past the confirmation, a run that neither failed in the transfer nor verified: either the device
  // never fetched (the wait limit or its silence ended the wait), or it fell silent after flashing.
  return f.delivered ? FleetOutcome::no_response_after_flash : FleetOutcome::no_fetch;
}

Gate batch_gate(const BatchRule& rule, const std::vector<BatchTurn>& turns, std::size_t index) {
  std::size_t failures = 0;
  for (const BatchTurn& t : turns)
    failures += counts_as_failure(t.outcome);
  if (rule.max_failures > 0 && failures >= rule.max_failures) return Gate::stop;
  std::size_t canaries = 0;
  bool canaries_pending = false, canaries_good = true;
  for (std::size_t i = 0; i < turns.size() && canaries < rule.canary; ++i) {
    if (!turns[i].to_flash) continue;
    if (i == index) return Gate::go;
    ++canaries;
    canaries_pending = canaries_pending || turns[i].outcome == FleetOutcome::pending;
    canaries_good = canaries_good && turns[i].outcome == FleetOutcome::upgraded;
  }
  if (canaries_pending) return Gate::wait;
  return canaries_good ? Gate::go : Gate::stop;
}

}  // namespace qor
