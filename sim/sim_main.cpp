// qor-device-sim: a stand-in for a QOR device on loopback, for testing qor-upgrade end to end.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  using namespace qor::sim;
  SimConfig config;
  std::string error;
  switch (parse_sim_options(argc, argv, config, error)) {
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
  Device device(config);
  int status = run_http_server(device);
  sim_log("device", "%s, exit status %d", signalled ? "stopped by a signal" : "done", status);
  return status;
}
