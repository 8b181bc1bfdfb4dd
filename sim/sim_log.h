// The simulator's event log: one line per event on stdout, flushed at once so that a test reading the
// output through a pipe sees each event as it happens.
#pragma once

#include <atomic>
#include <string>

namespace qor::sim {

// Prefixes the line with the seconds since start, a tag ("http", "tftp", ...) and the calling thread's
// device, if set; thread-safe.
void sim_log(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The device whose thread this is, named in each of its lines as "[127.0.0.3]"; empty: none named.
void set_log_device(const std::string& label);

// Set by SIGINT/SIGTERM and by the simulator itself when it is done; every wait loop watches it.
extern std::atomic<bool> stop_requested;

}  // namespace qor::sim
