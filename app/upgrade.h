// The entry point of the upgrade, its one-time start-up and the fixed order of its steps.
#pragma once

#include <cstdint>

#include "base/outcome.h"
#include "base/run.h"
#include "http/device_client.h"

namespace qor {

struct StartupOptions {
  // Offer the PC's loopback addresses instead of its LAN addresses (a device simulated on this host).
  bool loopback_addresses = false;
};

// What the sequence does to the device and the listener; tests replace them.
struct SequenceOperations {
  RequestResult (*run_device_request)(UpgradeRun& run, const RequestJob& job, DeviceInfo& info);
  Outcome (*start_tftp_listener)(UpgradeRun& run, std::uint16_t& port);
};
extern const SequenceOperations REAL_OPERATIONS;

// Start-up, then the upgrade sequence on the calling thread, for the run the front end owns. The
// toolkit must be installed: its start stands in for the window class registration, and without it the
// program returns at once. Returns 0 on every path that returns, with run.outcome telling how the run
// ended; an upgrade that gets as far as the transfer is ended from the listener thread (in a run scope,
// one device among several: this thread then leaves by RunExit once the listener has ended the run).
int upgrade_main(UpgradeRun& run, const StartupOptions& options = {},
                 const SequenceOperations& operations = REAL_OPERATIONS);

// Starts the socket library, collects this PC's addresses, seeds the random numbers, loads the images.
// Returns Outcome::networking_failed when the socket library would not start, else Outcome::none.
Outcome init_program(UpgradeRun& run, const StartupOptions& options = {});

// The steps from the warning dialog to the upgrade requests. Returns how it ended when it ends before
// the transfer (declined, a failure); after the upgrade request it waits until the run ends.
Outcome run_upgrade_sequence(UpgradeRun& run, const SequenceOperations& operations = REAL_OPERATIONS);

// "3.2.1" -> 30201: up to three numbers read as strtoul does with base 0, one separator skipped after
// each, 32-bit wrapping arithmetic.
std::int32_t version_number(const char* text);

// The stage decision made after the status page was read, when upgrade_stage is 0.
void decide_upgrade_stage(UpgradeRun& run);

}  // namespace qor
