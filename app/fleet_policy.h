// What a fleet run decides, as plain functions over what the devices reported: whether a device is to
// be flashed, which devices may start now (canary, failure limit), and how each device's run is named
// for scripts. No threads, no windows: app/fleet.cpp applies them.
#pragma once

#include <cstddef>
#include <vector>

#include "base/outcome.h"

namespace qor {

// How one device's run ended, as a report and a script name it. Every code is distinct: a dashboard
// need not parse the message.
enum class FleetOutcome {
  pending,                  // still running, or not yet started
  upgraded,                 // flashed and verified
  skipped_current,          // it already runs the carried version
  skipped_newer,            // it runs a newer version than the carried one
  declined,                 // the confirmation was answered no
  auth_failed,              // it asked for a password and none, or a wrong one, was given
  unreachable,              // its status page could not be read before the confirmation
  no_fetch,                 // it never asked for its image
  upload_incomplete,        // it stopped acknowledging the image
  version_not_matching,     // after flashing it reports another version
  no_response_after_flash,  // after flashing its status page could not be read
  interrupted,              // Ctrl-C or a signal ended its run while it was being upgraded
  not_started,              // the canary or the failure limit (or an interruption) kept it from starting
  busy,                     // another run on this PC is upgrading it
  local_error,              // this PC failed it: sockets, ports, threads or memory
};

const char* fleet_outcome_name(FleetOutcome outcome);

// Upgraded or rightly left alone.
bool ended_well(FleetOutcome outcome);
// Counts against --max-failures: the device (or the run's PC) failed it.
bool counts_as_failure(FleetOutcome outcome);

enum class FlashDecision { flash, skip_current, skip_newer };

struct FlashRule {
  bool force = false;            // flash a device that already runs the carried version
  bool allow_downgrade = false;  // flash a device that runs a newer version
};

// Compares the version the device reported with the carried target version by version_number.
FlashDecision decide_flash(const char* device_version, const char* carried_version, const FlashRule& rule);
FleetOutcome skip_outcome(FlashDecision decision);  // pending for flash

// What the fleet knows of one device's run once it has ended.
struct RunFacts {
  Outcome outcome = Outcome::none;  // as the run recorded it
  bool answered = false;            // its status page was read before the confirmation
  bool released = false;            // it went past the confirmation: its upgrade began
  bool declined = false;
  bool password_refused = false;  // a password was asked for and none, or a wrong one, was given
  bool delivered = false;         // it acknowledged an image whole
  bool interrupted = false;       // Ctrl-C or a signal came before it ended
};

FleetOutcome classify_run(const RunFacts& facts);

// The batch rule. 0: no canary, no failure limit.
struct BatchRule {
  std::size_t canary = 0;
  std::size_t max_failures = 0;
};

// One device as the batch rule sees it, in the order of the list.
struct BatchTurn {
  bool to_flash = false;  // it answered and is to be flashed
  bool started = false;   // its upgrade began
  FleetOutcome outcome = FleetOutcome::pending;
};

enum class Gate { go, wait, stop };

// Whether the device at `index`, to be flashed and not started, may start now: the first `canary`
// devices to be flashed go alone, the others once every one of them ended upgraded (stop when one did
// not); once `max_failures` devices failed, none starts any more.
Gate batch_gate(const BatchRule& rule, const std::vector<BatchTurn>& turns, std::size_t index);

}  // namespace qor
