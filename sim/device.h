// The simulated device's state, shared by the web server's connections and the TFTP fetch: the
// version it reports, whether it is busy or restarting, the nonces it has issued, and when the
// simulator has seen enough to end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_options.h"
#include "sim/tftp_fetch.h"
#include "sim/upgrade_url.h"

namespace qor::sim {

using Clock = std::chrono::steady_clock;

inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_BAD_IMAGE = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_INTERRUPTED = 3;
inline constexpr int EXIT_NO_LISTEN = 4;

inline constexpr std::size_t MAX_NONCES = 64;

struct Device {
  // `label` names the device in the log when the simulator plays several ("127.0.0.3"); empty for one.
  Device(const SimConfig& c, std::string label = "")
      : config(c), label(std::move(label)), version(c.version_before) {}

  const SimConfig& config;
  const std::string label;
  std::atomic<bool> stopping{false};  // the device is done: its connections end
  std::atomic<int> open_connections{0};
  std::mutex lock;
  std::string version;
  bool fetching = false;
  Clock::time_point offline_until{};
  std::vector<std::string> nonces;  // issued since the last restart, newest last
  unsigned nonce_serial = 0;
  std::mt19937 random{std::random_device{}()};

  int good_fetches = 0;  // images taken
  int bad_fetches = 0;
  bool ending = false;  // the --once condition has been met
  bool page_read_since = false;
  Clock::time_point linger_until{};

  std::mutex fetch_lock;  // guards fetch_thread alone
  std::thread fetch_thread;
};

std::string device_version(Device& device);
// True once a good image has been taken.
bool device_flashed(Device& device);
bool device_offline(Device& device);
// True once the simulator or this device is stopping.
bool device_stopping(const Device& device);

std::string issue_nonce(Device& device);
bool nonce_known(Device& device, const std::string& nonce);

// Takes the device for a fetch; false when it is already fetching or restarting.
bool claim_fetch(Device& device);
// Runs the fetch on its own thread, then flashes or refuses what arrived.
void start_fetch(Device& device, const UpgradeTarget& target);
void join_fetch(Device& device);
void finish_fetch(Device& device, const FetchResult& result);

void note_status_page(Device& device);
bool device_done(Device& device);
int device_exit_status(Device& device);

}  // namespace qor::sim
