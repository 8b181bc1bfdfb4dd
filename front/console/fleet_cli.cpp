#include "front/console/fleet_cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "base/firmware.h"
#include "base/process.h"
#include "base/run.h"
#include "base/text.h"
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

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {  // device texts are bytes, not necessarily UTF-8
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string json_or_null(const std::string& s) {
  return s.empty() ? "null" : json_string(s);
}

// The versions of the images this program carries.
struct Carried {
  std::string target;
  std::string transition;
};

Carried carried_images() {
  auto about = std::make_unique<UpgradeRun>();
  about->upgrade_stage.store(initial_upgrade_stage);
  load_firmware_images(*about);
  Carried c{version_of(about->target_image).text, ""};
  if (about->transition_image.data) c.transition = version_of(about->transition_image).text;
  return c;
}

bool verified(const DeviceReport& r) {
  return r.outcome == Outcome::upgraded;
}

// Why a device was not upgraded: the system's message, and what the fleet knows besides.
// With --info nothing was to be upgraded: the system's "Upgrade Failed" texts would mislead.
std::string failure_text(const DeviceReport& r, bool info) {
  std::string text = r.message;
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
  if (verified(r)) return "upgraded and verified";
  if (r.declined) return "declined";
  return failure_text(r, false);
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
      return "answered: " + or_dash(r.before.product_name) + ", software " +
             or_dash(r.before.software_version) + "; gets " + r.gets;
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
      if (verified(r)) return "upgraded and verified: " + r.after;
      if (r.declined) return "declined";
      return "failed: " + failure_text(r, false);
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
  Rows answered, silent;
  for (const DeviceReport& r : reports) {
    if (r.phase == DevicePhase::ready) {
      const DeviceInfo& i = r.before;
      answered.push_back({r.address, i.product_name, i.serial_number, i.mac_address, i.software_version,
                          i.hardware_version, r.gets});
    } else {
      silent.push_back({r.address, failure_text(r, false)});
    }
  }
  std::printf("\n%s\n\n", plain(texts::WARNING).c_str());
  std::printf("These devices answered and are to be upgraded:\n");
  print_table(stdout, {"DEVICE", "PRODUCT", "SERIAL", "MAC", "SOFTWARE", "HARDWARE", "GETS"}, answered, "  ");
  if (!silent.empty()) {
    std::printf("These did not answer and are left out:\n");
    for (const auto& row : silent)
      std::printf("  %s  %s\n", pad(row[0], ADDRESS_COLUMN).c_str(), row[1].c_str());
  }
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
  int good = 0;
  std::vector<std::string> flashed;
  for (const DeviceReport& r : reports) {
    const DeviceInfo& i = r.before;
    rows.push_back({r.address, or_dash(r.answered ? i.product_name : ""),
                    or_dash(r.answered ? i.serial_number : ""), or_dash(r.answered ? i.software_version : ""),
                    or_dash(r.after), or_dash(r.flashed), result_text(r)});
    good += verified(r);
    if (!r.flashed.empty()) flashed.push_back(r.address + " (" + r.flashed + ")");
  }
  std::printf("\n");
  print_table(stdout, {"DEVICE", "PRODUCT", "SERIAL", "BEFORE", "AFTER", "FLASHED", "RESULT"}, rows);
  std::printf("\n%d of %zu devices upgraded and verified", good, reports.size());
  if (static_cast<std::size_t>(good) < reports.size())
    std::printf("; %zu not", reports.size() - static_cast<std::size_t>(good));
  std::printf(".\n");
  if (interrupted) {
    std::string list;
    for (const std::string& f : flashed)
      list += (list.empty() ? "" : ", ") + f;
    std::printf("Interrupted. Flashed before the end: %s.\n", list.empty() ? "none" : list.c_str());
  }
  std::fflush(stdout);
}

bool write_report(const std::string& path, const std::vector<DeviceReport>& reports) {
  std::string text = "{\n  \"devices\": [\n";
  int good = 0;
  for (std::size_t n = 0; n < reports.size(); ++n) {
    const DeviceReport& r = reports[n];
    const DeviceInfo& i = r.before;
    const std::string outcome = r.declined ? "declined" : outcome_name(r.outcome);
    good += verified(r);
    text +=
        "    {\"address\": " + json_string(r.address) + ", \"answered\": " + (r.answered ? "true" : "false") +
        ",\n     \"product\": " + json_or_null(i.product_name) +
        ", \"serial\": " + json_or_null(i.serial_number) + ", \"mac\": " + json_or_null(i.mac_address) +
        ", \"hardware_version\": " + json_or_null(i.hardware_version) +
        ",\n     \"version_before\": " + json_or_null(i.software_version) +
        ", \"gets\": " + json_or_null(r.gets) + ", \"version_after\": " + json_or_null(r.after) +
        ", \"flashed\": " + json_or_null(r.flashed) + ",\n     \"outcome\": " + json_string(outcome) +
        ", \"verified\": " + (verified(r) ? "true" : "false") + ", \"message\": " + json_string(r.message) +
        ", \"note\": " + json_string(r.note) + ",\n     \"phases\": [";
    for (std::size_t k = 0; k < r.phases.size(); ++k) {
      const PhaseMark& m = r.phases[k];
      char at[32];
      std::snprintf(at, sizeof at, "%.3f", m.at);
      text += std::string(k ? ", " : "") + "{\"phase\": \"" + phase_name(m.phase) +
              "\", \"stage\": " + std::to_string(m.stage) + ", \"at\": " + at + "}";
    }
    text += std::string("]}") + (n + 1 < reports.size() ? "," : "") + "\n";
  }
  text += "  ],\n  \"upgraded\": " + std::to_string(good) +
          ",\n  \"failed\": " + std::to_string(reports.size() - static_cast<std::size_t>(good)) + "\n}\n";
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

void print_info(const std::vector<DeviceReport>& reports, bool json) {
  if (json) {
    std::string text = "[\n";
    for (std::size_t n = 0; n < reports.size(); ++n) {
      const DeviceReport& r = reports[n];
      const DeviceInfo& i = r.before;
      text +=
          "  {\"address\": " + json_string(r.address) + ", \"answered\": " + (r.answered ? "true" : "false");
      if (r.answered) {
        text += ", \"product_name\": " + json_string(i.product_name) +
                ", \"serial_number\": " + json_string(i.serial_number) +
                ", \"mac_address\": " + json_string(i.mac_address) +
                ", \"software_version\": " + json_string(i.software_version) +
                ", \"hardware_version\": " + json_string(i.hardware_version) + "}";
      } else {
        text += ", \"error\": " + json_string(failure_text(r, true)) + "}";
      }
      text += n + 1 < reports.size() ? ",\n" : "\n";
    }
    std::printf("%s]\n", text.c_str());
    return;
  }
  Rows rows;
  for (const DeviceReport& r : reports) {
    const DeviceInfo& i = r.before;
    if (r.answered)
      rows.push_back({r.address, i.product_name, i.serial_number, i.mac_address, i.software_version,
                      i.hardware_version});
    else
      rows.push_back({r.address, "-", "-", "-", "-", "-", failure_text(r, true)});
  }
  print_table(stdout, {"DEVICE", "PRODUCT", "SERIAL", "MAC", "SOFTWARE", "HARDWARE"}, rows);
}

}  // namespace

bool read_devices_file(const std::string& path, std::vector<std::string>& addresses, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot read the devices file " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    std::string address = trim(line.substr(0, line.find('#')));
    if (address.empty()) continue;
    std::uint32_t value = 0;
    if (parse_ip_address(address.c_str(), &value) != ADDRESS_VALID) {
      error = path + ":" + std::to_string(number) + ": not an IPv4 address of a QOR: '" +
              (address.size() > 40 ? address.substr(0, 40) + "..." : address) + "'";
      return false;
    }
    if (addresses.size() == MAX_FLEET_DEVICES) {
      error = path + ":" + std::to_string(number) + ": more than " + std::to_string(MAX_FLEET_DEVICES) +
              " devices";
      return false;
    }
    addresses.push_back(address);
  }
  if (file.bad()) {
    error = "cannot read the devices file " + path;
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
  if (command.json && !command.info) return "--json goes with --info";
  if (!command.info && !command.yes && !tty_in)
    return "no terminal to ask on: give --yes to upgrade the devices";
  return "";
}

int run_fleet_command(const FleetCommand& command) {
  // Never freed: threads of ended runs may still be winding down when the program ends.
  Fleet* fleet = new Fleet(command.fleet);
  // Ctrl-C cancels every run; a second one, or SIGTERM, ends the program at once.
  std::thread([fleet] {
    watch_interrupts("cancelling every run (Ctrl-C again to quit at once)",
                     [fleet] { fleet->cancel_everything(); });
  }).detach();
  const Carried carried = carried_images();
  const bool tty = is_terminal(stdout);
  const bool quiet = command.info && (command.json || !tty);  // the table (or JSON) alone
  Progress progress(stdout, tty, command.info, carried);
  auto tick = [&] {
    if (!quiet) progress.update(fleet->reports());
  };

  if (command.info) {
    fleet->read_info(tick);
    if (!quiet) progress.update(fleet->reports(), true);
    progress.keep();
    const auto reports = fleet->reports();
    print_info(reports, command.json);
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
  print_final_table(reports, fleet->interrupted());
  if (command.report_path && !write_report(*command.report_path, reports)) {
    std::fprintf(stderr, "qor-upgrade-cli: cannot write the report to %s\n", command.report_path->c_str());
    return 1;
  }
  bool all = std::all_of(reports.begin(), reports.end(), verified);
  return all ? 0 : 1;
}

}  // namespace qor::console
