// The simulator's event log: one line per event on stdout, flushed at once so that a test reading the
// output through a pipe sees each event as it happens.
#pragma once

#include <atomic>

namespace qor::sim {

// Prefixes the line with the seconds since start and a tag ("http", "tftp", ...); thread-safe.
void sim_log(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Set by SIGINT/SIGTERM and by the simulator itself when it is done; every wait loop watches it.
extern std::atomic<bool> stop_requested;

}  // namespace qor::sim
