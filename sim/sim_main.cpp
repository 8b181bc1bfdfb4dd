// qor-device-sim: a stand-in for a QOR device on loopback, for testing qor-upgrade end to end.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/device.h"
#include "sim/http_server.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"

namespace {

std::atomic<bool> signalled{false};

void on_signal(int) {
  signalled = true;
  qor::sim::stop_requested = true;
}

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// Several devices serve side by side, one thread each; the simulator ends when every one has ended,
// with the first status that is not 0.
int run_devices(const std::vector<qor::sim::SimConfig>& configs) {
  using namespace qor::sim;
  std::vector<std::unique_ptr<Device>> devices;
  for (const SimConfig& c : configs) {
    devices.push_back(std::make_unique<Device>(c, configs.size() > 1 ? ipv4_text(c.address) : ""));
  }
  if (devices.size() == 1) return run_http_server(*devices.front());
  std::vector<int> statuses(devices.size(), EXIT_DONE);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    threads.emplace_back([&, i] { statuses[i] = run_http_server(*devices[i]); });
  }
  for (std::thread& t : threads)
    t.join();
  for (int s : statuses) {
    if (s != EXIT_DONE) return s;
  }
  return EXIT_DONE;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qor::sim;
  std::vector<SimConfig> configs;
  std::string error;
  switch (parse_sim_devices(argc, argv, configs, error)) {
    case OPTIONS_HELP:
      std::fputs(sim_usage(), stdout);
      return EXIT_DONE;
    case OPTIONS_ERROR:
      std::fprintf(stderr, "qor-device-sim: %s (try --help)\n", error.c_str());
      return EXIT_USAGE;
    case OPTIONS_RUN:
      break;
  }
  install_signal_handlers();
  int status = run_devices(configs);
  sim_log("device", "%s, exit status %d", signalled ? "stopped by a signal" : "done", status);
  return status;
}
