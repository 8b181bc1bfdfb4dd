// Serving the images: the listener thread waits for each stage's read request, runs the transfer, waits
// while the device flashes, verifies the version it reports, and moves the run to the next stage or
// ends it.
#pragma once

#include <cstdint>

#include "base/outcome.h"
#include "base/run.h"
#include "tftp/tftp_listener.h"
#include "ui/toolkit.h"

namespace qor {

// Opens the listener on the run's local address and starts its thread. Outcome::none with the bound
// port, or why not.
Outcome start_tftp_listener(UpgradeRun& run, std::uint16_t& port);

// The listener thread: serves the stages and ends the run (end_run).
[[noreturn]] void tftp_listener_thread(UpgradeRun& run, TftpListener& listener);

// One stage for the requester: transfer, settling wait, verification, and the success dialog after the
// target stage (then Outcome::upgraded). Outcome::none after a verified transition stage.
Outcome run_tftp_session(UpgradeRun& run, TftpListener& listener, const TftpRequester& requester);

// The fixed wait while the device writes its flash, counted on the wrapping millisecond clock in the
// upload window. user_abort when the window was cancelled.
Outcome run_settling_wait(Window window, const bool& cancelled, const char* stage_name,
                          const UpgradeRun& run);

// Reads the status page of the device named and compares the version it reports now with `image`'s.
Outcome verify_upgrade(UpgradeRun& run, std::uint32_t local_addr, std::uint32_t device,
                       const FirmwareImage& image, std::int32_t stage);

}  // namespace qor
