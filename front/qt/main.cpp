// qor-upgrade: the graphical front end. The GUI thread runs Qt's event loop and draws the dialogs; the
// upgrade runs on a thread of its own, as it ran on the program's main thread, so nothing of it waits
// for Qt.
#include <QApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/upgrade.h"
#include "base/firmware.h"
#include "base/process.h"
#include "front/qt/qt_toolkit.h"

namespace {

bool env_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// Qt aborts when it finds no display; say something a user can act on instead.
bool display_available(int argc, char** argv) {
  if (env_set("DISPLAY") || env_set("WAYLAND_DISPLAY") || env_set("QT_QPA_PLATFORM")) return true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0) return true;
  }
  return false;
}

const char* const usage_text =
    "Usage: qor-upgrade [--loopback-addresses]\n"
    "Upgrades the firmware of a QOR on the local network with the image this program carries, in a\n"
    "series of windows: the QOR's address, what it reports, the upload and the check of its new version.\n"
    "\n"
    "  --loopback-addresses   offer this PC's loopback addresses too (for a QOR simulated on this PC)\n"
    "  --help, --version\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n"
    "\n"
    "Exit status: 0 when the run ends (its outcome is shown in a window), 1 no display, 2 usage error.\n"
    "The image is served by TFTP from UDP port 69 (or the next free one up to 168): this needs\n"
    "root or the capability CAP_NET_BIND_SERVICE.\n";

// --help and --version are answered before Qt starts, so they need no display.
bool answer_help_or_version(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage_text, stdout);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("qor-upgrade 1.0.0");
      return true;
    }
  }
  return false;
}

// Qt's own options, which QApplication takes out of argv; those after which a value follows.
bool is_qt_option(const char* arg, bool& takes_value) {
  static const char* const with_value[] = {
      "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
      "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
      "display",     "geometry",           "title",         "name"};
  static const char* const alone[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
  if (arg[0] != '-') return false;
  const char* name = arg + (arg[1] == '-' ? 2 : 1);
  const std::size_t length = std::strcspn(name, "=");
  auto is = [&](const char* known) {
    return std::strlen(known) == length && std::strncmp(name, known, length) == 0;
  };
  for (const char* o : with_value) {
    if (is(o)) {
      takes_value = name[length] != '=';
      return true;
    }
  }
  for (const char* o : alone) {
    if (is(o)) {
      takes_value = false;
      return true;
    }
  }
  return false;
}

// Without a display Qt never sees the command line: a wrong option is still a usage error.
bool options_valid_without_qt(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    bool takes_value = false;
    if (std::strcmp(argv[i], "--loopback-addresses") == 0) continue;
    if (is_qt_option(argv[i], takes_value)) {
      i += takes_value ? 1 : 0;
      continue;
    }
    std::fprintf(stderr, "qor-upgrade: unknown option %s\nTry 'qor-upgrade --help'.\n", argv[i]);
    return false;
  }
  return true;
}

bool parse_options(int argc, char** argv, qor::StartupOptions& options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--loopback-addresses") == 0) {
      options.loopback_addresses = true;
    } else {
      std::fprintf(stderr, "qor-upgrade: unknown option %s\nTry 'qor-upgrade --help'.\n", argv[i]);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (answer_help_or_version(argc, argv)) return 0;
  if (!display_available(argc, argv)) {
    if (!options_valid_without_qt(argc, argv)) qor::end_process(2);
    std::fputs("qor-upgrade needs a graphical display; for the command line use qor-upgrade-cli\n", stderr);
    qor::end_process(1);
  }
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  qor::StartupOptions options;
  if (!parse_options(argc, argv, options)) qor::end_process(2);
  // The run has no main window; closing one dialog must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  qor::qt::QtToolkit gui;
  qor::set_toolkit(&gui.manager());
  static qor::UpgradeRun run;
  // The image tells the kind of device, and with it the icon, before the first window opens.
  run.upgrade_stage.store(qor::initial_upgrade_stage);
  qor::load_firmware_images(run);
  qor::identify_product(run);
  qor::qt::use_program_icon(run.phone_variant);
  // Qt ends the process with exit() when its display connection breaks, as it does when a window is
  // killed from outside (the whole connection goes with it): end as the close box would, with status 0
  // and without running destructors under the upgrade's threads.
  std::atexit([] { qor::end_process(0); });
  qor::start_core_thread([&app, options] {
    qor::upgrade_main(run, options);
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  qor::end_process(0);
}
