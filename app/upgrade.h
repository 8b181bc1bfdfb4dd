// The entry point of the upgrade, its one-time start-up and the fixed order of its steps.
#pragma once

#include <cstdint>

#include "http/device_client.h"

namespace qor {

struct StartupOptions {
  // Offer the PC's loopback addresses instead of its LAN addresses (a device simulated on this host).
  bool loopback_addresses = false;
};

// Start-up, then the upgrade sequence on the calling thread. The toolkit must be installed: its start
// stands in for the window class registration, and without it the program returns at once. Returns 0
// on every path that returns; the upgrade itself ends the process from the listener thread.
int upgrade_main(AppInstance instance, const StartupOptions& options = {});

void init_program(const StartupOptions& options = {});
void run_upgrade_sequence();
void send_upgrade_trigger(std::uint16_t port);

// "3.2.1" -> 30201: up to three numbers read as strtoul does with base 0, one separator skipped after
// each, 32-bit wrapping arithmetic.
std::int32_t version_number(const char* text);

// The stage decision made after the status page was read, when upgrade_stage is 0.
void decide_upgrade_stage();

// Seams for tests of the sequence alone; the program always uses the real operations.
struct SequenceOperations {
  std::int32_t (*run_device_request)(RequestJob job);
  std::uint16_t (*start_tftp_listener)(std::uint32_t local_addr);
};
void set_sequence_operations(const SequenceOperations* operations);  // null: the real ones

}  // namespace qor
