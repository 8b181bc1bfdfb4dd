// qor-upgrade-cli: the upgrade in a terminal or a script, with the same steps and texts as the GUI.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/upgrade.h"
#include "base/process.h"
#include "base/text.h"
#include "base/trace.h"
#include "front/console/console_view.h"
#include "front/console/files.h"
#include "front/console/fleet_cli.h"
#include "front/console/terminal.h"
#include "http/request_runner.h"
#include "net/socket.h"
#include "ui/dialogs.h"
#include "ui/texts.h"

namespace {

using qor::console::Answers;
using qor::console::ConsoleView;

ConsoleView* view = nullptr;
qor::UpgradeRun* run = nullptr;

const char* const usage_text =
    "Usage: qor-upgrade-cli [options]\n"
    "Upgrades the firmware of a QOR on the local network with the image this program carries, or of\n"
    "several at once.\n"
    "\n"
    "  --device ADDR          IPv4 address of the QOR; repeated for several\n"
    "  --local-address ADDR   address of this PC that the QOR shall fetch the image from\n"
    "                         (default: asked on a terminal when there are several, else the first)\n"
    "  --user NAME            administrator's user name, if the QOR asks (default: asked on a\n"
    "                         terminal, admin otherwise)\n"
    "  --password-file FILE   administrator's password: the first line of FILE\n"
    "                         (without it the password is asked for on a terminal)\n"
    "  --yes                  answer Continue and Upgrade without asking\n"
    "  --verbose              print the diagnostic trace to stderr\n"
    "  --help, --version\n"
    "\n"
    "Several devices (with more than one --device, or any of the options below):\n"
    "  --devices FILE         the devices, one a line: ADDR [user=NAME] [password-file=PATH]\n"
    "                         ('#' starts a comment; at most 1 MiB)\n"
    "  --jobs N               upgrade at most N at once, the others waiting their turn (default and\n"
    "                         at most 100: each needs a TFTP port of its own, UDP 69 to 168)\n"
    "  --plan                 read every device and say what a run would do with it; flash nothing\n"
    "                         (exit status 0 when every device answered)\n"
    "  --force                also flash devices that already run the carried version\n"
    "  --allow-downgrade      also flash devices that run a newer version\n"
    "  --canary N             upgrade the first N devices alone; the others only if all N ended\n"
    "                         upgraded\n"
    "  --max-failures N       once N devices failed, start no further device\n"
    "  --report FILE          write the run and the outcome of every device as JSON to FILE\n"
    "                         (checked before any device is contacted; written at every ending)\n"
    "  --failed FILE          write the devices that did not end upgraded or skipped, one a line\n"
    "  --timeout S            cancel a device that stays S seconds without moving on: its web\n"
    "                         server silent, or the image never fetched (default 300)\n"
    "  --connect-timeout S    give up a connection to a device's web server, or its reply, after\n"
    "                         S seconds (default 10)\n"
    "  --info                 read the status page of every device and print it; upgrade nothing\n"
    "                         (needs no privilege)\n"
    "  --json                 with --info or --plan: print JSON\n"
    "  Every device runs the whole upgrade, on its own, at the same time as the others; --user and\n"
    "  --password-file apply to every one without its own in --devices. Devices on the carried\n"
    "  version (skipped_current) or a newer one (skipped_newer) are left alone. One confirmation\n"
    "  lists every device to be upgraded (--yes answers it); then each device has a line of its\n"
    "  own, and at the end a table. A device that another run on this PC is upgrading is reported\n"
    "  busy. Outcomes in the report: upgraded, skipped_current, skipped_newer, declined,\n"
    "  auth_failed, unreachable, no_fetch, upload_incomplete, version_not_matching,\n"
    "  no_response_after_flash, interrupted, not_started, busy, local_error.\n"
    "\n"
    "Exit status: 0 upgraded and verified, or left alone (every device), 1 failed or declined\n"
    "(any device), 2 usage error.\n"
    "The image is served by TFTP from UDP port 69 (or the next free one up to 168): this needs\n"
#ifdef _WIN32
    "no privilege, but the firewall must let the device's datagrams in to those ports (the\n"
    "installer adds a rule for this program).\n";
#else
    "root or the capability CAP_NET_BIND_SERVICE.\n";
#endif

[[noreturn]] void usage(const std::string& message) {
  std::fprintf(stderr, "qor-upgrade-cli: %s\nTry 'qor-upgrade-cli --help'.\n", message.c_str());
  std::exit(2);
}

// 0 upgraded and verified, 2 a question no option answered, 1 anything else.
void exit_with_outcome(int) {
  std::fflush(stdout);
  std::fflush(stderr);
  qor::console::pause_own_console();
  if (view && view->usage_failed()) std::_Exit(2);
  std::_Exit(run && run->outcome.load() == qor::Outcome::upgraded ? 0 : 1);
}

// Trace lines quote what devices and peers sent: shown with visible escapes, so that none of it is
// taken by the terminal for a control sequence or a line of its own.
void trace_to_stderr(const char* line) {
  std::string_view text(line);
  const bool newline = !text.empty() && text.back() == '\n';
  if (newline) text.remove_suffix(1);
  std::string shown = qor::visible_text(text);
  if (newline) shown += '\n';
  std::fputs(shown.c_str(), stderr);
}

std::string read_password_file(const std::string& path) {
  std::string password, error;
  if (!qor::console::read_password_file(path, password, error)) usage("--password-file: " + error);
  return password;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything can start a thread: the watcher alone takes Ctrl-C, and one that comes early waits
  // for it.
  qor::console::hold_interrupts();
  std::atexit(qor::console::pause_own_console);

  Answers answers;
  bool verbose = false;
  std::vector<std::string> devices;
  std::optional<std::string> devices_file;
  qor::console::FleetCommand fleet;
  bool fleet_option = false;  // an option that only several devices have
  auto number = [](const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    long n = text.size() <= 9 ? std::strtol(text.c_str(), &end, 10) : -1;
    if (text.empty() || !end || *end != '\0' || n < low)
      usage(option + ": give a number from " + std::to_string(low) + " to " + std::to_string(high));
    return n;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage_text, stdout);
      return 0;
    } else if (arg == "--version") {
      qor::UpgradeRun about;
      about.upgrade_stage.store(qor::initial_upgrade_stage);
      qor::load_firmware_images(about);
      qor::identify_product(about);
      std::printf("qor-upgrade-cli 1.0.0, carrying %s firmware %s", about.product_display_name,
                  qor::version_of(about.target_image).text);
      if (about.transition_image.data)
        std::printf(" (transition firmware %s)", qor::version_of(about.transition_image).text);
      std::printf("\n");
      return 0;
    } else if (arg == "--device") {
      devices.push_back(value());
    } else if (arg == "--devices") {
      devices_file = value();
    } else if (arg == "--jobs") {
      // Above the limit the check names the ports; below 1 it is no number of jobs.
      fleet.fleet.jobs = static_cast<int>(number(arg, value(), 1, qor::MAX_FLEET_JOBS));
      fleet_option = true;
    } else if (arg == "--timeout") {
      long seconds = number(arg, value(), 1, 86400);
      if (seconds > 86400) usage("--timeout: give a number from 1 to 86400");
      fleet.fleet.wait_limit_seconds = static_cast<unsigned>(seconds);
      fleet_option = true;
    } else if (arg == "--report") {
      fleet.report_path = value();
      fleet_option = true;
    } else if (arg == "--info") {
      fleet.info = true;
    } else if (arg == "--json") {
      fleet.json = true;
    } else if (arg == "--local-address") {
      answers.local_address = value();
    } else if (arg == "--user") {
      answers.user = value();
      if (answers.user->size() > qor::console::MAX_CREDENTIAL_LENGTH)
        usage("--user: a user name of at most " + std::to_string(qor::console::MAX_CREDENTIAL_LENGTH) +
              " characters");
    } else if (arg == "--password-file") {
      answers.password = read_password_file(value());
    } else if (arg == "--yes" || arg == "-y") {
      answers.yes = true;
    } else if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else if (std::string error; qor::console::parse_fleet_option(i, argc, argv, fleet, error)) {
      if (!error.empty()) usage(error);
      fleet_option = true;
    } else {
      usage("unknown option " + arg);
    }
  }

  // The checks of the options look at this PC's addresses already.
  if (!qor::start_networking()) {
    std::fprintf(stderr, "qor-upgrade-cli: %s\n", qor::texts::NETWORKING_FAILED);
    return 1;
  }
  bool tty_in = qor::console::is_terminal(stdin);
  if (devices_file) {
    std::string error;
    if (!qor::console::read_devices_file(*devices_file, devices, fleet.fleet.credentials, error))
      usage(error);
  }
  if (devices.size() > 1 || devices_file || fleet_option || fleet.info || fleet.json) {
    fleet.fleet.addresses = devices;
    fleet.arguments.assign(argv + 1, argv + argc);
    fleet.fleet.local_address = answers.local_address;
    fleet.fleet.user = answers.user;
    fleet.fleet.password = answers.password;
    fleet.yes = answers.yes;
    std::string problem = qor::console::check_fleet_command(fleet, tty_in);
    if (!problem.empty()) usage(problem);
    if (verbose) qor::set_trace_sink(trace_to_stderr);
    qor::end_process(qor::console::run_fleet_command(fleet));
  }
  if (!devices.empty()) answers.device = devices.back();

  answers.interactive = tty_in;
  if (!tty_in) {
    if (!answers.device) usage("no terminal to ask on: give --device ADDR");
    if (!answers.yes) usage("no terminal to ask on: give --yes to continue and upgrade");
  }
  std::uint32_t device = 0;
  if (answers.device && qor::parse_ip_address(answers.device->c_str(), &device) != 0) device = 0;

  static ConsoleView console(answers, stdout, qor::console::is_terminal(stdout));
  view = &console;
  static qor::UpgradeRun upgrade;
  run = &upgrade;
  qor::set_toolkit(&console.manager());
  qor::set_end_process_hook(exit_with_outcome);
  if (verbose) qor::set_trace_sink(trace_to_stderr);
  // Ctrl-C presses Cancel on every window open now and on every one opened later; a second one ends
  // the program at once.
  std::thread([] {
    qor::console::watch_interrupts("cancelling (Ctrl-C again to quit at once)",
                                   [] { view->manager().cancel_everything(); });
  }).detach();

  qor::StartupOptions options;
  options.loopback_addresses = (device >> 24) == 127;  // a QOR simulated on this PC
  qor::upgrade_main(upgrade, options);
  qor::end_process(0);
}
