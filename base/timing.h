// The waiting times of an upgrade. The shipped program always uses these values; tests shorten them in
// the run record of the run they drive.
#pragma once

namespace qor {

struct Timing {
  unsigned runner_poll_ms = 1;        // request runner: one pass of its wait loop
  unsigned tftp_poll_ms = 1;          // TFTP: one empty poll of the socket
  unsigned polls_per_interval = 100;  // TFTP: empty polls before a retransmission
  unsigned max_intervals = 30;        // TFTP: intervals without an acknowledgement before giving up
  unsigned settle_steps = 937;        // settling wait after the upload, in clock units
  unsigned settle_shift = 5;          // one settling unit is 2^5 = 32 ms of the millisecond clock
  unsigned settle_sleep_ms = 32;      // sleep between two looks at the clock during the settling wait
  unsigned verify_attempts = 10;      // status page reads after the settling wait
  unsigned stage_poll_ms = 10;        // main thread: poll of upgrade_stage
};

}  // namespace qor
