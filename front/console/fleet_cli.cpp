#include "front/console/fleet_cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <type_traits>

#include "base/firmware.h"
#include "base/process.h"
#include "base/run.h"
#include "base/text.h"
#include "front/console/device_lock.h"
#include "front/console/files.h"
#include "front/console/terminal.h"
#include "net/socket.h"
#include "ui/dialogs.h"
#include "ui/texts.h"

namespace qor::console {

namespace {

using Clock = std::chrono::steady_clock;
using Rows = std::vector<std::vector<std::string>>;

constexpr std::size_t ADDRESS_COLUMN = 15;  // "255.255.255.255"

std::string trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string or_dash(const std::string& s) {
  return s.empty() ? "-" : s;
}

// The dialog texts carry Windows line breaks.
std::string plain(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// Columns as wide as their widest cell; the last one is not padded.
void print_table(std::FILE* out, const std::vector<std::string>& header, const Rows& rows,
                 const char* indent = "") {
  std::vector<std::size_t> width(header.size(), 0);
  for (std::size_t i = 0; i < header.size(); ++i)
    width[i] = header[i].size();
  for (const auto& row : rows) {
    if (row.size() > width.size()) width.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i)
      width[i] = std::max(width[i], row[i].size());
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text = indent;
    for (std::size_t i = 0; i < cells.size(); ++i)
      text += i + 1 < cells.size() ? pad(cells[i], width[i] + 2) : cells[i];
    std::fprintf(out, "%s\n", text.c_str());
  };
  line(header);
  for (const auto& row : rows)
    line(row);
}

using Json = nlohmann::ordered_json;

// Device texts are bytes: valid UTF-8 stays as it is, any other byte becomes U+FFFD.
std::string json_text(const Json& j) {
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json or_null(const std::string& s) {
  return s.empty() ? Json(nullptr) : Json(s);
}

// A device's text for a terminal or a log.
std::string shown(const char* text) {
  return visible_text(text);
}

// The versions of the images this program carries.
struct Carried {
  std::string target;
  std::string transition;
  std::string product;
};

Carried carried_images() {
  auto about = std::make_unique<UpgradeRun>();
  about->upgrade_stage.store(initial_upgrade_stage);
  load_firmware_images(*about);
  identify_product(*about);
  Carried c{version_of(about->target_image).text, "", about->product_display_name};
  if (about->transition_image.data) c.transition = version_of(about->transition_image).text;
  return c;
}

bool verified(const DeviceReport& r) {
  return r.outcome == Outcome::upgraded;
}

// How a device's run ended; one cut short by the end of the program is named by how far it got.
FleetOutcome final_code(const DeviceReport& r) {
  if (r.code != FleetOutcome::pending) return r.code;
  return r.released ? FleetOutcome::interrupted : FleetOutcome::not_started;
}

bool ended_well(const DeviceReport& r) {
  return ended_well(final_code(r));
}

const char* skip_text(FlashDecision d) {
  return d == FlashDecision::skip_current ? "skip: already runs the carried version"
                                          : "skip: runs a newer version";
}

// Why a device was not upgraded: the system's message, and what the fleet knows besides.
// With --info nothing was to be upgraded: the system's "Upgrade Failed" texts would mislead.
std::string failure_text(const DeviceReport& r, bool info) {
  std::string text = shown(r.message.c_str());
  if (info) {
    if (r.outcome == Outcome::no_response) {
      text = "no response";
    } else if (!r.note.empty()) {
      text = "";
    } else {
      const char* message = texts::outcome_message(r.outcome);
      text = r.outcome != Outcome::user_abort && message ? message : "cancelled";
    }
  } else if (text.empty()) {
    text = r.outcome == Outcome::none ? "not upgraded" : outcome_name(r.outcome);
  }
  if (!r.note.empty()) text += text.empty() ? r.note : " (" + r.note + ")";
  return text;
}

std::string result_text(const DeviceReport& r) {
  const FleetOutcome code = final_code(r);
  if (verified(r)) return "upgraded and verified";
  if (code == FleetOutcome::skipped_current || code == FleetOutcome::skipped_newer)
    return std::string(fleet_outcome_name(code)) + " (" + r.note + ")";
  if (r.declined) return "declined";
  return std::string(fleet_outcome_name(code)) + ": " + failure_text(r, false);
}

std::string stage_image(std::int32_t stage, const Carried& carried) {
  return stage == 0 ? "Transition image " + carried.transition : "Target image " + carried.target;
}

// What a device does in `phase`; `live` adds the percent and the seconds left of the moment.
std::string describe(const DeviceReport& r, DevicePhase phase, std::int32_t stage, const Carried& carried,
                     bool live, bool info) {
  switch (phase) {
    case DevicePhase::queued:
      return "queued";
    case DevicePhase::reading:
      return "reading its status page";
    case DevicePhase::ready:
      return "answered: " + or_dash(shown(r.before.product_name)) + ", software " +
             or_dash(shown(r.before.software_version)) + "; gets " + r.gets;
    case DevicePhase::requesting:
      return "asking it to fetch the " + stage_image(stage, carried);
    case DevicePhase::waiting:
      return "waiting for it to fetch the " + stage_image(stage, carried);
    case DevicePhase::uploading:
      return "uploading the " + stage_image(stage, carried) +
             (live ? "  " + std::to_string(r.percent) + "%" : "");
    case DevicePhase::updating:
      return "writing the " + stage_image(stage, carried) + " to flash" +
             (live ? "  " + std::to_string(r.seconds_left) + " s left" : "");
    case DevicePhase::verifying:
      return "verifying the version it reports";
    case DevicePhase::done:
      if (info) return r.answered ? "answered" : "failed: " + failure_text(r, true);
      if (verified(r)) return "upgraded and verified: " + shown(r.after.c_str());
      if (ended_well(r)) return result_text(r);
      if (r.declined) return "declined";
      if (r.code == FleetOutcome::pending) return "answered";  // a plan
      return "failed: " + result_text(r);
  }
  return "";
}

// Lines redrawn in place on a terminal.
class LiveLines {
 public:
  explicit LiveLines(std::FILE* out) : out_(out) {}

  void draw(std::vector<std::string> lines) {
    int rows = 24, columns = 80;
    terminal_size(out_, rows, columns);
    // What does not fit is left out, the last line (the summary) kept: lines that scroll off the
    // screen could not be drawn over again.
    const std::size_t room = static_cast<std::size_t>(std::max(rows - 1, 1));
    if (lines.size() > room) {
      std::string summary = lines.back();
      lines.resize(room - 1);
      lines.push_back(summary);
    }
    std::string text;
    if (drawn_ > 0) text += "\x1b[" + std::to_string(drawn_) + "A";
    text += "\r";
    const std::size_t width = static_cast<std::size_t>(std::max(columns - 1, 1));
    for (const std::string& line : lines)
      text += line.substr(0, width) + "\x1b[K\n";
    text += "\x1b[J";
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    drawn_ = lines.size();
  }
  // The lines drawn stay as they are; the next draw starts below them.
  void keep() { drawn_ = 0; }

 private:
  std::FILE* out_;
  std::size_t drawn_ = 0;
};

// While the runs go on: on a terminal one line per device, redrawn in place; otherwise one line per
// phase change, in the order they happened.
class Progress {
 public:
  Progress(std::FILE* out, bool tty, bool info, const Carried& carried)
      : out_(out), tty_(tty), info_(info), carried_(carried), live_(out) {}

  void update(const std::vector<DeviceReport>& reports, bool force = false) {
    tty_ ? redraw(reports, force) : log(reports);
  }
  void keep() { live_.keep(); }

 private:
  void redraw(const std::vector<DeviceReport>& reports, bool force) {
    if (!force && Clock::now() - last_draw_ < std::chrono::milliseconds(200)) return;
    last_draw_ = Clock::now();
    std::vector<std::string> lines, waiting_lines;
    int done = 0, good = 0, queued = 0, ready = 0;
    for (const DeviceReport& r : reports) {
      std::string line =
          pad(r.address, ADDRESS_COLUMN) + "  " + describe(r, r.phase, r.stage, carried_, true, info_);
      // Devices at work first: with more devices than lines, those are the ones to see.
      (r.phase == DevicePhase::queued || r.phase == DevicePhase::done ? waiting_lines : lines)
          .push_back(line);
      done += r.phase == DevicePhase::done;
      good += r.phase == DevicePhase::done && (info_ ? r.answered : verified(r));
      queued += r.phase == DevicePhase::queued;
      ready += r.phase == DevicePhase::ready;
    }
    lines.insert(lines.end(), waiting_lines.begin(), waiting_lines.end());
    const int total = static_cast<int>(reports.size());
    lines.push_back(std::to_string(done) + " of " + std::to_string(total) + " done (" + std::to_string(good) +
                    (info_ ? " answered" : " upgraded") + "), " +
                    std::to_string(total - done - queued - ready) + " at work, " + std::to_string(ready) +
                    " ready, " + std::to_string(queued) + " queued");
    live_.draw(lines);
  }

  void log(const std::vector<DeviceReport>& reports) {
    printed_.resize(reports.size(), 0);
    struct Entry {
      double at;
      std::size_t device;
      PhaseMark mark;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < reports.size(); ++i) {
      for (std::size_t k = printed_[i]; k < reports[i].phases.size(); ++k)
        entries.push_back({reports[i].phases[k].at, i, reports[i].phases[k]});
      printed_[i] = reports[i].phases.size();
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.at < b.at; });
    for (const Entry& e : entries) {
      const DeviceReport& r = reports[e.device];
      std::fprintf(out_, "[%7.1f s] %s  %s\n", e.at, pad(r.address, ADDRESS_COLUMN).c_str(),
                   describe(r, e.mark.phase, e.mark.stage, carried_, false, info_).c_str());
    }
    std::fflush(out_);
  }

  std::FILE* out_;
  bool tty_;
  bool info_;
  const Carried& carried_;
  LiveLines live_;
  Clock::time_point last_draw_{};
  std::vector<std::size_t> printed_;
};

// One yes-or-no answer from the terminal; no, when the input ends or Ctrl-C came.
bool ask_once(const std::string& question, const Fleet& fleet) {
  std::fputs(question.c_str(), stdout);
  std::fflush(stdout);
  std::string line;
  if (read_terminal_line(
          line, [&fleet] { return fleet.interrupted(); }, 16))
    return line == "y" || line == "Y" || line == "yes";
  std::fputc('\n', stdout);
  return false;
}

bool confirm_all(const std::vector<DeviceReport>& reports, const FleetCommand& command, const Fleet& fleet) {
  Rows answered, skipped, silent;
  for (const DeviceReport& r : reports) {
    if (r.phase == DevicePhase::ready && r.code == FleetOutcome::pending) {
      const DeviceInfo& i = r.before;
      answered.push_back({r.address, shown(i.product_name), shown(i.serial_number), shown(i.mac_address),
                          shown(i.software_version), shown(i.hardware_version), r.gets});
    } else if (ended_well(r.code)) {
      skipped.push_back({r.address, shown(r.before.software_version), r.note});
    } else {
      silent.push_back({r.address, result_text(r)});
    }
  }
  std::printf("\n%s\n\n", plain(texts::WARNING).c_str());
  std::printf("These devices answered and are to be upgraded:\n");
  print_table(stdout, {"DEVICE", "PRODUCT", "SERIAL", "MAC", "SOFTWARE", "HARDWARE", "GETS"}, answered, "  ");
  if (!skipped.empty()) {
    std::printf("These are left alone (--force, --allow-downgrade to flash them):\n");
    print_table(stdout, {"DEVICE", "SOFTWARE", "WHY"}, skipped, "  ");
  }
  if (!silent.empty()) {
    std::printf("These did not answer and are left out:\n");
    for (const auto& row : silent)
      std::printf("  %s  %s\n", pad(row[0], ADDRESS_COLUMN).c_str(), row[1].c_str());
  }
  const BatchRule& batch = command.fleet.batch;
  if (batch.canary > 0)
    std::printf("--canary %zu: the first %zu go alone; the others only once those are upgraded.\n",
                batch.canary, batch.canary);
  if (batch.max_failures > 0)
    std::printf("--max-failures %zu: no device starts once %zu have failed.\n", batch.max_failures,
                batch.max_failures);
  const std::string count = std::to_string(answered.size()) + (answered.size() == 1 ? " device" : " devices");
  if (command.yes) {
    std::printf("--yes: upgrading %s.\n\n", count.c_str());
    std::fflush(stdout);
    return true;
  }
  bool go = ask_once("Upgrade " + count + "? [y/N] ", fleet);
  std::printf("\n");
  return go;
}

void print_final_table(const std::vector<DeviceReport>& reports, bool interrupted) {
  Rows rows;
  int good = 0, left = 0;
  std::vector<std::string> flashed;
  for (const DeviceReport& r : reports) {
    const DeviceInfo& i = r.before;
    rows.push_back({r.address, or_dash(r.answered ? shown(i.product_name) : ""),
                    or_dash(r.answered ? shown(i.serial_number) : ""),
                    or_dash(r.answered ? shown(i.software_version) : ""), or_dash(shown(r.after.c_str())),
                    or_dash(r.flashed), result_text(r)});
    good += verified(r);
    left += ended_well(r) && !verified(r);
    if (!r.flashed.empty()) flashed.push_back(r.address + " (" + r.flashed + ")");
  }
  std::printf("\n");
  print_table(stdout, {"DEVICE", "PRODUCT", "SERIAL", "BEFORE", "AFTER", "FLASHED", "RESULT"}, rows);
  std::printf("\n%d of %zu devices upgraded and verified", good, reports.size());
  if (left > 0) std::printf(", %d left alone", left);
  const std::size_t not_good = reports.size() - static_cast<std::size_t>(good + left);
  if (not_good > 0) std::printf("; %zu not", not_good);
  std::printf(".\n");
  if (interrupted) {
    std::string list;
    for (const std::string& f : flashed)
      list += (list.empty() ? "" : ", ") + f;
    std::printf("Interrupted. Flashed before the end: %s.\n", list.empty() ? "none" : list.c_str());
  }
  std::fflush(stdout);
}

std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

Json device_fields(const DeviceInfo& i) {
  return {{"product_name", i.product_name},
          {"serial_number", i.serial_number},
          {"mac_address", i.mac_address},
          {"software_version", i.software_version},
          {"hardware_version", i.hardware_version}};
}

// What the report says of the run itself.
struct RunRecord {
  Carried carried;
  std::string started;
  Json options;
};

Json report_json(const RunRecord& run, const std::vector<DeviceReport>& reports, const char* ending) {
  Json devices = Json::array();
  int good = 0, left = 0;
  for (const DeviceReport& r : reports) {
    const DeviceInfo& i = r.before;
    const FleetOutcome code = final_code(r);
    good += verified(r);
    left += ended_well(code) && !verified(r);
    Json phases = Json::array();
    for (const PhaseMark& m : r.phases)
      phases.push_back({{"phase", phase_name(m.phase)}, {"stage", m.stage}, {"at", m.at}});
    devices.push_back({{"address", r.address},
                       {"outcome", fleet_outcome_name(code)},
                       {"message", r.message},
                       {"note", r.note},
                       {"answered", r.answered},
                       {"product", or_null(r.answered ? i.product_name : "")},
                       {"serial", or_null(r.answered ? i.serial_number : "")},
                       {"mac", or_null(r.answered ? i.mac_address : "")},
                       {"hardware_version", or_null(r.answered ? i.hardware_version : "")},
                       {"version_before", or_null(r.answered ? i.software_version : "")},
                       {"gets", or_null(r.gets)},
                       {"version_after", or_null(r.after)},
                       {"flashed", or_null(r.flashed)},
                       {"verified", verified(r)},
                       {"phases", phases}});
  }
  Json carried = {{"product", run.carried.product},
                  {"target", run.carried.target},
                  {"transition", or_null(run.carried.transition)}};
  return {{"program", "qor-upgrade-cli"},
          {"program_version", QOR_VERSION},
          {"carried", carried},
          {"options", run.options},
          {"started", run.started},
          {"ended", utc_now()},
          {"ending", ending},
          {"upgraded", good},
          {"skipped", left},
          {"failed", static_cast<int>(reports.size()) - good - left},
          {"devices", devices}};
}

// A file that is to be written at the end must be writable before any device is contacted.
std::string check_writable(const char* option, const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::string(option) + " " + path + ": is a folder";
  if (!can_write_beside(path)) return std::string(option) + " " + path + ": cannot be written";
  return "";
}

// Written once, whichever ending comes first: the end of the run or a signal.
class Endings {
 public:
  Endings(const FleetCommand& command, const Fleet& fleet, RunRecord run)
      : command_(command), fleet_(fleet), run_(std::move(run)) {}

  // Prints the final table and writes the report and the list of failed devices; false when a file
  // could not be written.
  bool finish(const char* ending) {
    std::lock_guard lock(mutex_);
    if (done_) return true;
    done_ = true;
    const auto reports = fleet_.reports();
    print_final_table(reports, fleet_.interrupted() || std::string(ending) != "normal");
    bool ok = true;
    if (command_.report_path &&
        !write_whole(*command_.report_path, json_text(report_json(run_, reports, ending)))) {
      std::fprintf(stderr, "qor-upgrade-cli: cannot write the report to %s\n", command_.report_path->c_str());
      ok = false;
    }
    if (command_.failed_path) {
      std::string list;
      for (const DeviceReport& r : reports)
        if (!ended_well(r)) list += r.address + "\n";
      if (!write_whole(*command_.failed_path, list)) {
        std::fprintf(stderr, "qor-upgrade-cli: cannot write the failed devices to %s\n",
                     command_.failed_path->c_str());
        ok = false;
      }
    }
    std::fflush(stdout);
    return ok;
  }

 private:
  const FleetCommand& command_;
  const Fleet& fleet_;
  const RunRecord run_;
  std::mutex mutex_;
  bool done_ = false;
};

Json options_json(const FleetCommand& c) {
  const FleetOptions& o = c.fleet;
  return {{"arguments", c.arguments},
          {"devices", o.addresses.size()},
          {"jobs", o.jobs},
          {"timeout", o.wait_limit_seconds},
          {"connect_timeout", o.connect_timeout_seconds},
          {"canary", o.batch.canary},
          {"max_failures", o.batch.max_failures},
          {"force", o.flash.force},
          {"allow_downgrade", o.flash.allow_downgrade},
          {"yes", c.yes},
          {"local_address", o.local_address ? Json(*o.local_address) : Json(nullptr)},
          {"user", o.user ? Json(*o.user) : Json(nullptr)}};
}

void print_info(const std::vector<DeviceReport>& reports, bool json) {
  if (json) {
    Json list = Json::array();
    for (const DeviceReport& r : reports) {
      Json entry = {{"address", r.address}, {"answered", r.answered}};
      if (r.answered)
        entry.update(device_fields(r.before));
      else
        entry["error"] = failure_text(r, true);
      list.push_back(entry);
    }
    std::fputs(json_text(list).c_str(), stdout);
    return;
  }
  Rows rows;
  for (const DeviceReport& r : reports) {
    const DeviceInfo& i = r.before;
    if (r.answered)
      rows.push_back({r.address, shown(i.product_name), shown(i.serial_number), shown(i.mac_address),
                      shown(i.software_version), shown(i.hardware_version)});
    else
      rows.push_back({r.address, "-", "-", "-", "-", "-", failure_text(r, true)});
  }
  print_table(stdout, {"DEVICE", "PRODUCT", "SERIAL", "MAC", "SOFTWARE", "HARDWARE"}, rows);
}

// What a run would do with the device: "flash", a skip, or why it cannot be had.
std::string plan_action(const DeviceReport& r) {
  if (!r.answered) return fleet_outcome_name(final_code(r));
  if (r.decision == FlashDecision::flash) return "flash";
  return fleet_outcome_name(skip_outcome(r.decision));
}

void print_plan(const std::vector<DeviceReport>& reports, const Carried& carried, bool json) {
  if (json) {
    Json list = Json::array();
    for (const DeviceReport& r : reports) {
      Json entry = {{"address", r.address}, {"answered", r.answered}, {"action", plan_action(r)}};
      if (r.answered) {
        entry.update(device_fields(r.before));
        entry["gets"] = or_null(r.decision == FlashDecision::flash ? r.gets : "");
      } else {
        entry["error"] = failure_text(r, true);
      }
      list.push_back(entry);
    }
    Json plan = {{"carried",
                  {{"product", carried.product},
                   {"target", carried.target},
                   {"transition", or_null(carried.transition)}}},
                 {"devices", list}};
    std::fputs(json_text(plan).c_str(), stdout);
    return;
  }
  Rows rows;
  for (const DeviceReport& r : reports) {
    const DeviceInfo& i = r.before;
    if (!r.answered) {
      rows.push_back({r.address, "-", "-", plan_action(r) + ": " + failure_text(r, true)});
      continue;
    }
    const std::string action =
        r.decision == FlashDecision::flash ? "flash: gets " + r.gets : skip_text(r.decision);
    rows.push_back({r.address, shown(i.product_name), shown(i.software_version), action});
  }
  std::printf("Carried: %s %s%s\n", carried.product.c_str(), carried.target.c_str(),
              carried.transition.empty() ? "" : (" (transition " + carried.transition + ")").c_str());
  print_table(stdout, {"DEVICE", "PRODUCT", "SOFTWARE", "PLAN"}, rows);
}

std::string shortened(const std::string& s) {
  return visible_text(s.size() > 40 ? s.substr(0, 40) + "..." : s);
}

}  // namespace

bool read_password_file(const std::string& path, std::string& password, std::string& error) {
  std::string text;
  switch (read_small_file(path, MAX_PASSWORD_FILE_BYTES, text)) {
    case FileRead::unreadable:
      error = "cannot read a password from " + path;
      return false;
    case FileRead::too_large:
      error = path + " is larger than " + std::to_string(MAX_PASSWORD_FILE_BYTES) +
              " bytes; it should hold the password alone";
      return false;
    case FileRead::read:
      break;
  }
  password = text.substr(0, text.find('\n'));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  // The password dialog takes no more than this, and a longer one cut short would be refused by the
  // device as if it were wrong.
  if (password.size() > MAX_CREDENTIAL_LENGTH) {
    error = path + ": the password is longer than " + std::to_string(MAX_CREDENTIAL_LENGTH) +
            " characters, the most the program can send";
    return false;
  }
  if (readable_by_others(path))
    std::fprintf(stderr, "qor-upgrade-cli: warning: %s can be read by others than its owner (chmod 600 %s)\n",
                 path.c_str(), path.c_str());
  return true;
}

bool read_devices_file(const std::string& path, std::vector<std::string>& addresses,
                       std::vector<DeviceCredentials>& credentials, std::string& error) {
  std::string text;
  if (read_small_file(path, MAX_DEVICES_FILE_BYTES, text) != FileRead::read) {
    error = "cannot read the devices file " + path + " (at most " +
            std::to_string(MAX_DEVICES_FILE_BYTES >> 20) + " MiB)";
    return false;
  }
  credentials.resize(addresses.size());
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::istringstream words(trim(line.substr(0, line.find('#'))));
    std::string address, word;
    if (!(words >> address)) continue;
    std::uint32_t value = 0;
    if (parse_ip_address(address.c_str(), &value) != ADDRESS_VALID) {
      error = where + "not an IPv4 address of a QOR: '" + shortened(address) + "'";
      return false;
    }
    if (addresses.size() == MAX_FLEET_DEVICES) {
      error = where + "more than " + std::to_string(MAX_FLEET_DEVICES) + " devices";
      return false;
    }
    DeviceCredentials own;
    while (words >> word) {
      if (word.rfind("user=", 0) == 0) {
        own.user = word.substr(5);
        if (own.user->size() > MAX_CREDENTIAL_LENGTH) {
          error = where + "a user name of at most " + std::to_string(MAX_CREDENTIAL_LENGTH) + " characters";
          return false;
        }
      } else if (word.rfind("password-file=", 0) == 0) {
        std::string password, problem;
        if (!read_password_file(word.substr(14), password, problem)) {
          error = where + problem;
          return false;
        }
        own.password = password;
      } else {
        error = where + "expected user=NAME or password-file=PATH after the address, not '" +
                shortened(word) + "'";
        return false;
      }
    }
    addresses.push_back(address);
    credentials.push_back(own);
  }
  return true;
}

bool parse_fleet_option(int& i, int argc, char** argv, FleetCommand& command, std::string& error) {
  const std::string arg = argv[i];
  FleetOptions& o = command.fleet;
  auto number = [&](long low, long high, auto& into) {
    if (i + 1 >= argc) {
      error = arg + " needs a value";
      return;
    }
    const std::string text = argv[++i];
    char* end = nullptr;
    long n = text.size() <= 9 ? std::strtol(text.c_str(), &end, 10) : -1;
    if (text.empty() || !end || *end != '\0' || n < low || n > high)
      error = arg + ": give a number from " + std::to_string(low) + " to " + std::to_string(high);
    else
      into = static_cast<std::remove_reference_t<decltype(into)>>(n);
  };
  if (arg == "--plan") {
    command.plan = true;
  } else if (arg == "--force") {
    o.flash.force = true;
  } else if (arg == "--allow-downgrade") {
    o.flash.allow_downgrade = true;
  } else if (arg == "--canary") {
    number(1, static_cast<long>(MAX_FLEET_DEVICES), o.batch.canary);
  } else if (arg == "--max-failures") {
    number(1, static_cast<long>(MAX_FLEET_DEVICES), o.batch.max_failures);
  } else if (arg == "--connect-timeout") {
    number(1, 3600, o.connect_timeout_seconds);
  } else if (arg == "--failed") {
    if (i + 1 >= argc)
      error = arg + " needs a value";
    else
      command.failed_path = argv[++i];
  } else {
    return false;
  }
  return true;
}

std::string check_fleet_command(const FleetCommand& command, bool tty_in) {
  const FleetOptions& o = command.fleet;
  if (o.addresses.empty()) return "no device given: give --device ADDR (repeated) or --devices FILE";
  if (o.addresses.size() > MAX_FLEET_DEVICES)
    return "more than " + std::to_string(MAX_FLEET_DEVICES) + " devices in one run";
  std::set<std::uint32_t> seen;
  bool loopback[2] = {false, false};
  for (const std::string& address : o.addresses) {
    std::uint32_t value = 0;
    if (parse_ip_address(address.c_str(), &value) != ADDRESS_VALID)
      return "--device " + address + ": not a valid IPv4 address of a QOR";
    if (!seen.insert(value).second) return "the device " + address + " is given twice";
    loopback[(value >> 24) == 127] = true;
  }
  if (o.jobs > MAX_FLEET_JOBS)
    return "--jobs " + std::to_string(o.jobs) + ": at most " + std::to_string(MAX_FLEET_JOBS) +
           " devices can be upgraded at once: each needs a TFTP listener port of its own, and there are " +
           "100 (UDP 69 to 168)";
  // An upgrade tells each device where to fetch its image: without an address of this PC on its network
  // it would be told 0.0.0.0 and never come.
  for (int flavour = 0; flavour < 2 && !command.info && !command.plan; ++flavour) {
    if (!loopback[flavour] || o.local_address) continue;
    std::uint32_t list[MAX_LOCAL_ADDRESSES] = {};
    if (enumerate_local_addresses(list, MAX_LOCAL_ADDRESSES, flavour == 1) == 0)
      return "this PC has no address on a network, so the devices could not fetch the firmware from it";
  }
  if (o.local_address) {
    for (int flavour = 0; flavour < 2; ++flavour) {
      if (!loopback[flavour]) continue;
      std::uint32_t list[MAX_LOCAL_ADDRESSES] = {};
      int count = enumerate_local_addresses(list, MAX_LOCAL_ADDRESSES, flavour == 1);
      std::string known;
      bool found = false;
      for (int i = 0; i < count; ++i) {
        char text[16];
        format_ipv4(text, sizeof text, list[i]);
        found = found || *o.local_address == text;
        known += (known.empty() ? "" : ", ") + std::string(text);
      }
      if (!found)
        return "--local-address " + *o.local_address + " is not an address of this PC (" +
               (known.empty() ? std::string("it has none") : "its addresses: " + known) + ")";
    }
  }
  if (command.info && command.plan) return "--info and --plan: give one of them";
  if (command.json && !command.info && !command.plan) return "--json goes with --info or --plan";
  if (!command.info && !command.plan && !command.yes && !tty_in)
    return "no terminal to ask on: give --yes to upgrade the devices";
  if (command.report_path) {
    if (std::string problem = check_writable("--report", *command.report_path); !problem.empty())
      return problem;
  }
  if (command.failed_path) {
    if (std::string problem = check_writable("--failed", *command.failed_path); !problem.empty())
      return problem;
  }
  return "";
}

int run_fleet_command(const FleetCommand& command) {
  FleetOptions options = command.fleet;
  if (command.plan)
    options.claim = [](const std::string& address) { return !device_busy(address); };
  else if (!command.info)
    options.claim = claim_device;
  // Never freed: threads of ended runs may still be winding down when the program ends.
  Fleet* fleet = new Fleet(options);
  const Carried carried = carried_images();
  Endings* endings = command.info || command.plan
                         ? nullptr
                         : new Endings(command, *fleet, {carried, utc_now(), options_json(command)});
  // Ctrl-C cancels every run; a second one, SIGTERM or SIGHUP ends the program at once, with the
  // report of what was done until then.
  std::thread([fleet, endings] {
    watch_interrupts(
        "cancelling every run (Ctrl-C again to quit at once)", [fleet] { fleet->cancel_everything(); },
        [fleet, endings] {
          if (!endings) return;
          fleet->cancel_everything();
          endings->finish("terminated");
        });
  }).detach();
  const bool tty = is_terminal(stdout);
  const bool quiet = (command.info || command.plan) && (command.json || !tty);  // the table (or JSON) alone
  Progress progress(stdout, tty, command.info || command.plan, carried);
  auto tick = [&] {
    if (!quiet) progress.update(fleet->reports());
  };

  if (command.info || command.plan) {
    command.info ? fleet->read_info(tick) : fleet->plan(tick);
    if (!quiet) progress.update(fleet->reports(), true);
    progress.keep();
    const auto reports = fleet->reports();
    command.info ? print_info(reports, command.json) : print_plan(reports, carried, command.json);
    std::fflush(stdout);
    bool all = std::all_of(reports.begin(), reports.end(), [](const DeviceReport& r) { return r.answered; });
    return all ? 0 : 1;
  }

  fleet->upgrade(
      [&](const std::vector<DeviceReport>& reports) {
        progress.update(reports, true);
        progress.keep();
        return confirm_all(reports, command, *fleet);
      },
      tick);
  const auto reports = fleet->reports();
  progress.update(reports, true);
  progress.keep();
  if (!endings->finish(fleet->interrupted() ? "interrupted" : "normal")) return 1;
  const bool all =
      std::all_of(reports.begin(), reports.end(), [](const DeviceReport& r) { return ended_well(r); });
  return all ? 0 : 1;
}

}  // namespace qor::console
