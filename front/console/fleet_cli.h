// qor-upgrade-cli with several devices, or --info: the fleet (app/fleet.h) in a terminal or a log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/fleet.h"

namespace qor::console {

struct FleetCommand {
  FleetOptions fleet;
  bool info = false;  // read the status pages alone
  bool json = false;  // --info as JSON
  bool yes = false;   // the one confirmation answered
  std::optional<std::string> report_path;
};

// One address per line; blank lines and '#' comments are allowed. False, with a message naming the
// line, when a line is not an IPv4 address as the address dialog takes it, or the file cannot be read.
bool read_devices_file(const std::string& path, std::vector<std::string>& addresses, std::string& error);

// What can be checked before anything is sent: the addresses, --jobs, --local-address, and that the
// confirmation has an answer. The usage error's text, or empty.
std::string check_fleet_command(const FleetCommand& command, bool tty_in);

// Runs the fleet and prints what it does; returns the exit status: 0 when every device was upgraded and
// verified (with --info: every device answered), 1 otherwise. The first Ctrl-C cancels every
// run; a second one, or a request to terminate, ends the program at once.
int run_fleet_command(const FleetCommand& command);

}  // namespace qor::console
