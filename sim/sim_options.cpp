#include "sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

#include "sim/upgrade_url.h"

namespace qor::sim {

namespace {

constexpr std::size_t MAX_TEXT = 1000;

enum class Arg { NONE, REQUIRED, OPTIONAL };

using Setter = std::function<bool(SimConfig&, std::string_view value, std::string& error)>;

struct OptionRule {
  const char* name;
  Arg arg;
  Setter set;
};

bool to_long(std::string_view text, long low, long high, long& out) {
  std::string s(text);
  if (s.empty() || s.size() > 12) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

bool to_seconds(std::string_view text, double& out) {
  std::string s(text);
  if (s.empty() || s.size() > 20) return false;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v < 0 || v > 86400) return false;
  out = v;
  return true;
}

Setter text(std::string SimConfig::*field) {
  return [field](SimConfig& c, std::string_view v, std::string& error) {
    if (v.size() > MAX_TEXT) {
      error = "value too long";
      return false;
    }
    c.*field = std::string(v);
    return true;
  };
}

Setter digest_text(std::string DigestConfig::*field, bool turns_auth_on) {
  return [field, turns_auth_on](SimConfig& c, std::string_view v, std::string& error) {
    if (v.size() > MAX_TEXT || v.find('"') != std::string_view::npos) {
      error = "value too long or holds a double quote";
      return false;
    }
    c.digest.*field = std::string(v);
    if (turns_auth_on) c.auth = true;
    return true;
  };
}

Setter seconds(double SimConfig::*field) {
  return [field](SimConfig& c, std::string_view v, std::string& error) {
    if (!to_seconds(v, c.*field)) error = "expected seconds from 0 to 86400";
    return error.empty();
  };
}

Setter number(long SimConfig::*field, long low, long high) {
  return [field, low, high](SimConfig& c, std::string_view v, std::string& error) {
    if (!to_long(v, low, high, c.*field))
      error = "expected a number from " + std::to_string(low) + " to " + std::to_string(high);
    return error.empty();
  };
}

Setter flag(bool SimConfig::*field) {
  return [field](SimConfig& c, std::string_view, std::string&) {
    c.*field = true;
    return true;
  };
}

// Words that mean "leave the directive out"; anything else is sent as given.
Setter digest_choice(std::string DigestConfig::*field, const char* absent_word) {
  return [field, absent_word](SimConfig& c, std::string_view v, std::string& error) {
    if (v.size() > 15 * 4 || v.find('"') != std::string_view::npos) {
      error = "value too long or holds a double quote";
      return false;
    }
    c.digest.*field = (v == absent_word) ? std::string() : std::string(v);
    return true;
  };
}

bool set_address(SimConfig& c, std::string_view v, std::string& error) {
  std::uint32_t address;
  if (!parse_ipv4(v, address)) {
    error = "expected an IPv4 address A.B.C.D";
  } else if (!is_loopback(address)) {
    error = "the simulator serves loopback addresses (127.0.0.0/8) only";
  } else {
    c.address = address;
  }
  return error.empty();
}

bool set_port(SimConfig& c, std::string_view v, std::string& error) {
  long port;
  if (!to_long(v, 1, 65535, port)) {
    error = "expected a port from 1 to 65535";
    return false;
  }
  c.http_port = static_cast<std::uint16_t>(port);
  return true;
}

// "name=value,name=value"; empty: a plain read request without options.
bool set_rrq_options(SimConfig& c, std::string_view v, std::string& error) {
  c.rrq_options.clear();
  while (!v.empty()) {
    std::size_t comma = v.find(',');
    std::string_view item = v.substr(0, comma);
    std::size_t eq = item.find('=');
    if (eq == 0 || eq == std::string_view::npos || item.size() > 100) {
      error = "expected name=value pairs separated by commas";
      return false;
    }
    c.rrq_options.emplace_back(std::string(item.substr(0, eq)), std::string(item.substr(eq + 1)));
    v = (comma == std::string_view::npos) ? std::string_view() : v.substr(comma + 1);
  }
  return true;
}

bool set_nonce(SimConfig& c, std::string_view v, std::string& error) {
  if (v == "new") {
    c.nonce_mode = NonceMode::NEW;
  } else if (v == "fixed") {
    c.nonce_mode = NonceMode::FIXED;
  } else {
    error = "expected new or fixed";
  }
  return error.empty();
}

bool set_drop_every(SimConfig& c, std::string_view v, std::string& error) {
  long n;
  if (!to_long(v, 1, 1000000, n)) error = "expected a number from 1";
  c.drop_every = static_cast<unsigned>(n);
  return error.empty();
}

bool set_drop_direction(SimConfig& c, std::string_view v, std::string& error) {
  if (v == "in") {
    c.drop_direction = DropDirection::IN;
  } else if (v == "out") {
    c.drop_direction = DropDirection::OUT;
  } else if (v == "both") {
    c.drop_direction = DropDirection::BOTH;
  } else {
    error = "expected in, out or both";
  }
  return error.empty();
}

bool set_second_port(SimConfig& c, std::string_view v, std::string& error) {
  if (v.empty() || v == "also") {
    c.second_port_acks = SecondPortAcks::ALSO;
  } else if (v == "only") {
    c.second_port_acks = SecondPortAcks::ONLY;
  } else {
    error = "expected also or only";
  }
  return error.empty();
}

bool set_once(SimConfig& c, std::string_view v, std::string& error) {
  long n = 1;
  if (!v.empty() && !to_long(v, 1, 1000, n)) error = "expected a number of fetches from 1";
  c.once = static_cast<int>(n);
  return error.empty();
}

bool set_retries(SimConfig& c, std::string_view v, std::string& error) {
  long n;
  if (!to_long(v, 0, 100, n)) error = "expected a number from 0 to 100";
  c.tftp_retries = static_cast<int>(n);
  return error.empty();
}

bool set_product_id(SimConfig& c, std::string_view v, std::string& error) {
  if (v.size() > 92) error = "a product identifier has at most 92 characters";
  c.product_id = (v == "any") ? std::string() : std::string(v);
  return error.empty();
}

const std::vector<OptionRule>& option_table() {
  static const std::vector<OptionRule> table = {
      {"address", Arg::REQUIRED, set_address},
      {"http-port", Arg::REQUIRED, set_port},
      {"product-name", Arg::REQUIRED, text(&SimConfig::product_name)},
      {"mac", Arg::REQUIRED, text(&SimConfig::mac_address)},
      {"hardware-version", Arg::REQUIRED, text(&SimConfig::hardware_version)},
      {"serial", Arg::REQUIRED, text(&SimConfig::serial_number)},
      {"version-before", Arg::REQUIRED, text(&SimConfig::version_before)},
      {"report-version", Arg::REQUIRED, text(&SimConfig::report_version)},
      {"user", Arg::REQUIRED, digest_text(&DigestConfig::user, true)},
      {"password", Arg::REQUIRED, digest_text(&DigestConfig::password, true)},
      {"realm", Arg::REQUIRED, digest_text(&DigestConfig::realm, false)},
      {"opaque", Arg::REQUIRED, digest_text(&DigestConfig::opaque, false)},
      {"qop", Arg::REQUIRED, digest_choice(&DigestConfig::qop, "none")},
      {"algorithm", Arg::REQUIRED, digest_choice(&DigestConfig::algorithm, "absent")},
      {"nonce", Arg::REQUIRED, set_nonce},
      {"product-id", Arg::REQUIRED, set_product_id},
      {"rrq-options", Arg::REQUIRED, set_rrq_options},
      {"tftp-timeout", Arg::REQUIRED, seconds(&SimConfig::tftp_timeout)},
      {"tftp-retries", Arg::REQUIRED, set_retries},
      {"flash-seconds", Arg::REQUIRED, seconds(&SimConfig::flash_seconds)},
      {"drop-every", Arg::REQUIRED, set_drop_every},
      {"drop-direction", Arg::REQUIRED, set_drop_direction},
      {"duplicate-acks", Arg::NONE, flag(&SimConfig::duplicate_acks)},
      {"ack-from-second-port", Arg::OPTIONAL, set_second_port},
      {"send-error", Arg::REQUIRED, number(&SimConfig::send_error_at, 0, 65535)},
      {"stop-acking-after", Arg::REQUIRED, number(&SimConfig::stop_acking_after, 0, 65535)},
      {"wrong-name-first", Arg::NONE, flag(&SimConfig::wrong_name_first)},
      {"never-fetch", Arg::NONE, flag(&SimConfig::never_fetch)},
      {"never-answer-http", Arg::NONE, flag(&SimConfig::never_answer_http)},
      {"delay-upgrade-reply", Arg::REQUIRED, seconds(&SimConfig::delay_upgrade_reply)},
      {"fetch-before-reply", Arg::NONE, flag(&SimConfig::fetch_before_reply)},
      {"hold-upgrade-request", Arg::NONE, flag(&SimConfig::hold_upgrade_request)},
      {"no-version-after", Arg::NONE, flag(&SimConfig::no_version_after)},
      {"repeat-request", Arg::NONE, flag(&SimConfig::repeat_request)},
      {"once", Arg::OPTIONAL, set_once},
      {"final-version", Arg::REQUIRED, text(&SimConfig::final_version)},
      {"linger", Arg::REQUIRED, seconds(&SimConfig::linger_seconds)},
      {"save-images", Arg::REQUIRED, text(&SimConfig::save_images)},
  };
  return table;
}

const OptionRule* find_option(std::string_view name) {
  for (const auto& rule : option_table()) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

constexpr std::uint32_t FIRST_COUNTED = 0x7f000002;  // 127.0.0.2

// A MAC address and a serial number of its own for each of several devices, from its address.
void name_after_address(SimConfig& c) {
  const SimConfig plain;
  const unsigned a = c.address;
  char text[32];
  if (c.mac_address == plain.mac_address) {
    std::snprintf(text, sizeof text, "02:00:7f:%02x:%02x:%02x", (a >> 16) & 0xff, (a >> 8) & 0xff, a & 0xff);
    c.mac_address = text;
  }
  if (c.serial_number == plain.serial_number) {
    std::snprintf(text, sizeof text, "QOR47%08u", a & 0xffffff);
    c.serial_number = text;
  }
}

bool check_devices(std::vector<SimConfig>& devices, std::string& error) {
  if (devices.size() > static_cast<std::size_t>(MAX_DEVICES)) {
    error = "at most " + std::to_string(MAX_DEVICES) + " devices";
    return false;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    SimConfig& c = devices[i];
    if (!is_loopback(c.address)) {
      error = "--count: the devices would leave 127.0.0.0/8";
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (devices[j].address == c.address && devices[j].http_port == c.http_port) {
        error = "two devices on " + ipv4_text(c.address) + " port " + std::to_string(c.http_port);
        return false;
      }
    }
    if (!c.final_version.empty() && c.once == 0) c.once = 1;
    if (devices.size() > 1) name_after_address(c);
  }
  return true;
}

}  // namespace

OptionsResult parse_sim_devices(int argc, const char* const* argv, std::vector<SimConfig>& devices,
                                std::string& error) {
  SimConfig defaults;
  devices.clear();
  long count = 0;
  bool own_device = false;  // an --address has started a device: later options are its own
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word == "--help" || word == "-h") return OPTIONS_HELP;
    if (word.substr(0, 2) != "--") {
      error = "unexpected argument '" + std::string(word) + "'";
      return OPTIONS_ERROR;
    }
    std::size_t eq = word.find('=');
    std::string_view name = word.substr(2, eq == std::string_view::npos ? std::string_view::npos : eq - 2);
    const OptionRule* rule = find_option(name);
    const bool counting = name == "count";
    if (!rule && !counting) {
      error = "unknown option --" + std::string(name);
      return OPTIONS_ERROR;
    }
    std::string_view value;
    bool has_value = eq != std::string_view::npos;
    if (has_value) value = word.substr(eq + 1);
    if (rule && rule->arg == Arg::NONE && has_value) {
      error = "--" + std::string(name) + " takes no value";
      return OPTIONS_ERROR;
    }
    if ((counting || rule->arg == Arg::REQUIRED) && !has_value) {
      if (i + 1 >= argc) {
        error = "--" + std::string(name) + " needs a value";
        return OPTIONS_ERROR;
      }
      value = argv[++i];
    }
    std::string why;
    if (counting) {
      if (!to_long(value, 1, MAX_DEVICES, count)) {
        error = "--count: expected a number from 1 to " + std::to_string(MAX_DEVICES);
        return OPTIONS_ERROR;
      }
      continue;
    }
    if (name == "address") {
      if (devices.size() >= static_cast<std::size_t>(MAX_DEVICES)) {
        error = "at most " + std::to_string(MAX_DEVICES) + " devices";
        return OPTIONS_ERROR;
      }
      devices.push_back(defaults);
      own_device = true;
    }
    if (!rule->set(own_device ? devices.back() : defaults, value, why)) {
      error = "--" + std::string(name) + ": " + why;
      return OPTIONS_ERROR;
    }
  }
  for (long n = 0; n < count; ++n) {
    devices.push_back(defaults);
    devices.back().address = FIRST_COUNTED + static_cast<std::uint32_t>(n);
  }
  if (devices.empty()) devices.push_back(defaults);
  return check_devices(devices, error) ? OPTIONS_RUN : OPTIONS_ERROR;
}

OptionsResult parse_sim_options(int argc, const char* const* argv, SimConfig& config, std::string& error) {
  std::vector<SimConfig> devices;
  OptionsResult result = parse_sim_devices(argc, argv, devices, error);
  if (result == OPTIONS_RUN) config = devices.front();
  return result;
}

const char* sim_usage() {
  return R"(Usage: qor-device-sim [options] [--address A.B.C.D [its options]]... [--count N]
Stands in for a QOR device on loopback: a web server with the status and upgrade pages (optionally
behind Digest authentication) and a TFTP client that fetches the firmware the upgrade request names.
It can play many devices at once, each with its own address, version, password and faults.

Many devices:
  Options before the first --address are the defaults of every device. Each --address starts a device
  of its own; the options after it, up to the next --address, are that device's alone.
  --count N                N more devices with the defaults, at 127.0.0.2, 127.0.0.3 and up (at most
                           1000 devices in all)
  With several devices, each one's log lines name it ("[127.0.0.3]"), a device without --mac or
  --serial gets one made from its address, and the simulator ends when every device has ended.
  Example: three devices, the second behind a password, the third never fetching:
    qor-device-sim --version-before 3.1.0 --address 127.0.0.2 --address 127.0.0.3 --password pw \
                   --address 127.0.0.4 --never-fetch

Device:
  --address A.B.C.D        device address, 127.0.0.0/8 only (default 127.0.0.2); HTTP and TFTP use it
  --http-port P            web server port (default 80)
  --product-name TEXT      status page values: "Product Name:" (QOR-4710), "MAC Address:",
  --mac TEXT               "Hardware Version:", "Serial Number:"
  --hardware-version TEXT
  --serial TEXT
  --version-before V       "Software Version:" before an upgrade (default 3.0.0)
  --report-version V       after an upgrade report V instead of the image's version
  --product-id ID          product identifier an image must begin with, any case (default qor4710;
                           "any" accepts every product)
  --flash-seconds S        time the device is offline after a good image (default 3)

Authentication (on as soon as --user or --password is given):
  --user NAME              user name (default admin)
  --password TEXT          password
  --realm TEXT             realm (default "QOR Admin")
  --qop none|auth|auth-int|TEXT   qop offered, whole (default auth)
  --algorithm absent|MD5|MD5-sess|TEXT   algorithm offered (default MD5)
  --opaque TEXT            opaque value to offer (default none)
  --nonce new|fixed        new: a new nonce with every challenge, forgotten when the device restarts;
                           fixed: always the same nonce (default new)
  The Authorization line is checked as qor-upgrade writes it: nc of nine hex digits, qop, algorithm
  and opaque echoed exactly as offered (a qop list whole, unquoted), md5-sess keyed with the cnonce.

TFTP client:
  --rrq-options LIST       read request options, name=value,... ("" for none; default tsize=0)
  --tftp-timeout S         wait before repeating the last packet (default 5; the server's timeout
                           option overrides it)
  --tftp-retries N         repeats before giving up (default 5)

Faults:
  --drop-every N           drop every Nth TFTP packet (see --drop-direction)
  --drop-direction in|out|both   which packets count for --drop-every (default both)
  --duplicate-acks         send every ACK twice
  --ack-from-second-port[=also|only]   also: a copy of every ACK from a second port;
                           only: ACKs from the second port alone
  --send-error K           send an ERROR instead of the ACK of block K (0: the option ACK) and give up
  --stop-acking-after K    acknowledge up to block K, then stay silent
  --wrong-name-first       first ask for a wrong name (letter case changed), then the right one
  --never-fetch            answer the upgrade request but never fetch
  --no-version-after       after an upgrade, a status page without "Software Version:"
  --repeat-request         after a good fetch, ask for the same name again from a new port (an
                           answer to it is a FAULT: that name's image has been served)
  --never-answer-http      accept connections and never answer
  --delay-upgrade-reply S  answer the upgrade request S seconds late
  --fetch-before-reply     start fetching before the upgrade request is answered
  --hold-upgrade-request   start fetching and never answer the upgrade request, keeping its
                           connection open

Ending:
  --once[=N]               end after N good fetches (default 1), or after the first bad one; the exit
                           status is 0 only when every fetched image arrived whole with a valid header
  --final-version V        with --once: end after the good fetch of the image of version V instead
  --linger S               after the last fetch, wait up to S seconds (default 90) for the status page
                           to be read once more before ending
  --save-images DIR        write each good image as it arrived to DIR/ADDRESS-N.bin (N: the count of
                           good fetches of that device)
  --help                   this text

Exit status: 0 done (or stopped by SIGINT/SIGTERM without --once), 1 a fetched image was bad or
incomplete, 2 usage, 3 stopped before --once was met, 4 cannot listen. With several devices: the
first of these that is not 0, in the order the devices were given.
)";
}

}  // namespace qor::sim
