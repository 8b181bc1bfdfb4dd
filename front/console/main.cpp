// qor-upgrade-cli: the upgrade in a terminal or a script, with the same steps and texts as the GUI.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "app/upgrade.h"
#include "base/process.h"
#include "base/trace.h"
#include "front/console/console_view.h"
#include "ui/dialogs.h"

namespace {

using qor::console::Answers;
using qor::console::ConsoleView;

ConsoleView* view = nullptr;
qor::UpgradeRun* run = nullptr;

const char* const usage_text =
    "Usage: qor-upgrade-cli [options]\n"
    "Upgrades the firmware of a QOR on the local network with the image this program carries.\n"
    "\n"
    "  --device ADDR          IPv4 address of the QOR\n"
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
    "Exit status: 0 upgraded and verified, 1 failed or declined, 2 usage error.\n"
    "The image is served by TFTP from UDP port 69 (or the next free one up to 168): this needs\n"
    "root or the capability CAP_NET_BIND_SERVICE.\n";

[[noreturn]] void usage(const std::string& message) {
  std::fprintf(stderr, "qor-upgrade-cli: %s\nTry 'qor-upgrade-cli --help'.\n", message.c_str());
  std::exit(2);
}

// 0 upgraded and verified, 2 a question no option answered, 1 anything else.
void exit_with_outcome(int) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (view && view->usage_failed()) std::_Exit(2);
  std::_Exit(run && run->outcome.load() == qor::Outcome::upgraded ? 0 : 1);
}

void trace_to_stderr(const char* line) {
  std::fputs(line, stderr);
}

// Ctrl-C presses Cancel on every window open now and on every one opened later; a second one ends the
// program at once.
void watch_signals(sigset_t set) {
  int count = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (++count > 1 || sig == SIGTERM) {
      std::fprintf(stderr, "\nqor-upgrade-cli: interrupted\n");
      qor::end_process(1);
    }
    std::fprintf(stderr, "\nqor-upgrade-cli: cancelling (Ctrl-C again to quit at once)\n");
    view->manager().cancel_everything();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything can start a thread, so that every thread inherits the mask and the watcher alone
  // takes the signals: one that comes early stays pending until the watcher runs.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Answers answers;
  bool verbose = false;
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
      answers.device = value();
    } else if (arg == "--local-address") {
      answers.local_address = value();
    } else if (arg == "--user") {
      answers.user = value();
    } else if (arg == "--password-file") {
      std::string path = value();
      std::ifstream file(path);
      std::string line;
      if (!file || !std::getline(file, line)) usage("cannot read a password from " + path);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      answers.password = line;
    } else if (arg == "--yes" || arg == "-y") {
      answers.yes = true;
    } else if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else {
      usage("unknown option " + arg);
    }
  }

  bool tty_in = isatty(STDIN_FILENO) != 0;
  answers.interactive = tty_in;
  if (!tty_in) {
    if (!answers.device) usage("no terminal to ask on: give --device ADDR");
    if (!answers.yes) usage("no terminal to ask on: give --yes to continue and upgrade");
  }
  std::uint32_t device = 0;
  if (answers.device && qor::parse_ip_address(answers.device->c_str(), &device) != 0) device = 0;

  static ConsoleView console(answers, stdout, isatty(STDOUT_FILENO) != 0);
  view = &console;
  static qor::UpgradeRun upgrade;
  run = &upgrade;
  qor::set_toolkit(&console.manager());
  qor::set_end_process_hook(exit_with_outcome);
  if (verbose) qor::set_trace_sink(trace_to_stderr);
  std::thread(watch_signals, signals).detach();

  qor::StartupOptions options;
  options.loopback_addresses = (device >> 24) == 127;  // a QOR simulated on this PC
  qor::upgrade_main(upgrade, options);
  qor::end_process(0);
}
