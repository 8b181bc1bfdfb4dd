// qor-upgrade-cli with several devices, --info or --plan: the fleet (app/fleet.h) in a terminal or a log.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/fleet.h"
#include "http/request_runner.h"

namespace qor::console {

// A devices file or a password file longer than this is no such file (a device node, a log).
inline constexpr std::size_t MAX_DEVICES_FILE_BYTES = 1 << 20;
inline constexpr std::size_t MAX_PASSWORD_FILE_BYTES = 4096;
// The longest user name or password the program can send, as the password dialog takes them.
inline constexpr std::size_t MAX_CREDENTIAL_LENGTH = CREDENTIAL_LIMIT - 1;

struct FleetCommand {
  FleetOptions fleet;
  bool info = false;  // read the status pages alone
  bool plan = false;  // say what a run would do, flash nothing
  bool json = false;  // --info or --plan as JSON
  bool yes = false;   // the one confirmation answered
  std::optional<std::string> report_path;
  std::optional<std::string> failed_path;  // the devices that did not end upgraded or skipped
  std::vector<std::string> arguments;      // the command line as given, for the report
};

// One address per line, optionally followed by user=NAME and password-file=PATH; blank lines and '#'
// comments are allowed. `credentials` is kept as long as `addresses`. False, with a message naming the
// line, when a line is not an IPv4 address as the address dialog takes it, a password file cannot be
// read, or a file cannot be read or is too long.
bool read_devices_file(const std::string& path, std::vector<std::string>& addresses,
                       std::vector<DeviceCredentials>& credentials, std::string& error);

// The first line of a password file of at most MAX_PASSWORD_FILE_BYTES, without its line end; a
// password longer than the program can send is refused. Warns on standard error when others than the
// file's owner may read it.
bool read_password_file(const std::string& path, std::string& password, std::string& error);

// Takes the fleet option at argv[i] (and its value): true when it was one. A bad value leaves its
// usage error in `error`.
bool parse_fleet_option(int& i, int argc, char** argv, FleetCommand& command, std::string& error);

// What can be checked before anything is sent: the addresses, the options, that the confirmation has
// an answer, and that the report and the list of failed devices can be written. The usage error's
// text, or empty.
std::string check_fleet_command(const FleetCommand& command, bool tty_in);

// Runs the fleet and prints what it does; returns the exit status: 0 when every device was upgraded and
// verified or rightly left alone (with --info, --plan: every device answered), 1 otherwise. The first
// Ctrl-C cancels every run; a second one, SIGTERM or SIGHUP ends the program at once. The report and the
// list of failed devices are written at every one of these endings.
int run_fleet_command(const FleetCommand& command);

}  // namespace qor::console
