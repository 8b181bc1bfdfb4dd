// Many devices in one process. Each device gets the whole upgrade of one device (upgrade_main) on a
// thread of its own, in a run scope of its own with a dialog manager of its own: the fleet answers that
// run's dialogs (warning, address, password, success) as the user would, holds its confirmation until
// the one confirmation for all, and follows its windows to tell what the device is doing. A run that
// ends ends its own threads alone (base/process.h), so one failure leaves the others going.
//
// Threads: upgrade() and read_info() run on the caller's thread, which also gets the ticks and the
// confirmation; cancel_everything() and reports() may be called from any thread. A thread of an ended
// run may still be winding down (a request left waiting on a device that never answers) and use its
// run's records, so the fleet never frees them, not even when it is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/fleet_policy.h"
#include "base/outcome.h"
#include "base/run.h"

namespace qor {

// Each upgrade at once needs a TFTP listener port of its own, 69 to 168.
inline constexpr int MAX_FLEET_JOBS = 100;
// Devices in one run: far more than a site has, few enough that a runaway list is refused, not read.
inline constexpr std::size_t MAX_FLEET_DEVICES = 10000;
// As many at once as there are TFTP ports: the settling wait, not the network, sets the pace, so a
// hundred devices take about the time of one.
inline constexpr int DEFAULT_FLEET_JOBS = MAX_FLEET_JOBS;
inline constexpr unsigned DEFAULT_WAIT_LIMIT_SECONDS = 300;
inline constexpr unsigned DEFAULT_CONNECT_TIMEOUT_SECONDS = 10;

enum class DevicePhase {
  queued,      // its run has not started
  reading,     // its status page is being read
  ready,       // it answered; its run waits for the confirmation (or for its turn after it)
  requesting,  // the upgrade request is going out
  waiting,     // waiting for the device to ask for its image
  uploading,   // the image is being sent
  updating,    // the device writes its flash and restarts: the settling wait
  verifying,   // its status page is read again
  done,        // its run has ended
};

struct PhaseMark {
  DevicePhase phase;
  std::int32_t stage;  // the stage being served (0 transition, 1 target); -1 before the confirmation
  double at;           // seconds since the fleet started
};

// One device as the fleet knows it: a copy taken under the fleet's lock.
struct DeviceReport {
  std::string address;
  DevicePhase phase = DevicePhase::queued;
  std::int32_t stage = -1;
  int percent = 0;        // of the upload in progress
  int seconds_left = 0;   // of the settling wait in progress
  bool answered = false;  // its status page was read before the confirmation
  DeviceInfo before{};    // what it reported then
  std::string gets;       // the versions it is to get: "3.2.1", or "3.0.5, then 3.2.1"
  std::string after;      // the version it reported after an image was delivered; empty when none
  std::string flashed;    // the version of the last image it acknowledged whole; empty when none
  Outcome outcome = Outcome::none;
  FleetOutcome code = FleetOutcome::pending;      // how its run ended, for scripts
  FlashDecision decision = FlashDecision::flash;  // what the run decided once it answered
  bool released = false;                          // past the confirmation: its upgrade began
  bool declined = false;                          // the user declined the upgrade at the confirmation
  std::string message;                            // the system's message its run ended with; empty when none
  std::string note;  // what else is known: why the fleet cancelled a window, and so on
  std::vector<PhaseMark> phases;
};

// A device's own user name and password, where the devices file gives them.
struct DeviceCredentials {
  std::optional<std::string> user;
  std::optional<std::string> password;
};

struct FleetOptions {
  std::vector<std::string> addresses;          // each a valid IPv4 address as the address dialog takes it
  std::vector<DeviceCredentials> credentials;  // by the index of `addresses`; what is missing: below
  std::optional<std::string> local_address;    // an entry of the address dialog's list; default its first
  std::optional<std::string> user;             // default: the password dialog's preset
  std::optional<std::string> password;         // none: a device that asks for one fails
  int jobs = DEFAULT_FLEET_JOBS;               // runs at once, 1 to MAX_FLEET_JOBS
  // A device that stays this long reading, requesting, waiting for the fetch or verifying without
  // moving on has that window cancelled, as the user would (its run then ends as Cancel ends it).
  unsigned wait_limit_seconds = DEFAULT_WAIT_LIMIT_SECONDS;
  // Limit of each connect and each wait for a reply of the device's web server, so that a silent device
  // fails in seconds and gives its local port back.
  unsigned connect_timeout_seconds = DEFAULT_CONNECT_TIMEOUT_SECONDS;
  FlashRule flash;
  BatchRule batch;
  // Claims the device for this run before its run starts; false when another run on this PC holds it
  // (the device is then reported busy and never contacted). None: every device is free.
  std::function<bool(const std::string& address)> claim;
};

struct FleetState;

class Fleet {
 public:
  using Confirm = std::function<bool(const std::vector<DeviceReport>&)>;
  using Tick = std::function<void()>;

  explicit Fleet(FleetOptions options);
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  // Reads the status page of every device (each run up to its confirmation) and leaves alone those the
  // flash rule skips; asks `confirm` once when any is to be flashed, and lets the confirmed runs go on
  // as the batch rule allows, at most `jobs` at once; declined, each run ends as Cancel at its
  // confirmation ends it. `tick` runs about every 100 ms. Returns when every run has ended.
  void upgrade(const Confirm& confirm, const Tick& tick);

  // Reads the status page of every device and nothing more.
  void read_info(const Tick& tick);

  // Each run up to its confirmation, where it is cancelled: what each device reported and what a run
  // would do with it (DeviceReport::decision, answered), flashing nothing.
  void plan(const Tick& tick);

  // Ctrl-C: Cancel in every window of every run, now and from now on; runs not started yet never start.
  void cancel_everything();
  bool interrupted() const;

  std::vector<DeviceReport> reports() const;

 private:
  std::unique_ptr<FleetState> state_;
};

const char* phase_name(DevicePhase phase);  // "reading", "uploading", ...
const char* outcome_name(Outcome outcome);  // "upgraded", "user_abort", ...

}  // namespace qor
