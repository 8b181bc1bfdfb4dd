// Command line of qor-device-sim.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/digest_check.h"

namespace qor::sim {

enum class NonceMode { NEW, FIXED };
enum class DropDirection { IN, OUT, BOTH };
enum class SecondPortAcks { NONE, ALSO, ONLY };

struct SimConfig {
  // Where the device lives; its TFTP client uses the same address.
  std::uint32_t address = 0x7f000002;  // 127.0.0.2
  std::uint16_t http_port = 80;

  // Status page.
  std::string product_name = "QOR-4710";
  std::string mac_address = "02:00:00:47:10:01";
  std::string hardware_version = "1.0.2";
  std::string serial_number = "QOR0000471001";
  std::string version_before = "3.0.0";
  std::string report_version;  // empty: report the version of the image received

  // Authentication; on when a user or password was given.
  bool auth = false;
  DigestConfig digest{"admin", "", "QOR Admin", "auth", "MD5", ""};
  NonceMode nonce_mode = NonceMode::NEW;

  // The image the device accepts, and how it fetches it.
  std::string product_id = "qor4710";  // empty: any product
  std::vector<std::pair<std::string, std::string>> rrq_options{{"tsize", "0"}};
  double tftp_timeout = 5;  // seconds before the device repeats its last packet
  int tftp_retries = 5;
  double flash_seconds = 3;

  // Faults.
  unsigned drop_every = 0;
  DropDirection drop_direction = DropDirection::BOTH;
  bool duplicate_acks = false;
  SecondPortAcks second_port_acks = SecondPortAcks::NONE;
  long send_error_at = -1;      // block whose ACK becomes an ERROR
  long stop_acking_after = -1;  // last block acknowledged
  bool wrong_name_first = false;
  bool never_fetch = false;
  bool never_answer_http = false;
  double delay_upgrade_reply = 0;
  bool fetch_before_reply = false;
  bool hold_upgrade_request = false;
  bool no_version_after = false;  // after an upgrade the status page lacks its version label
  bool repeat_request = false;    // after a good fetch, ask for the same name once more

  // Ending.
  int once = 0;  // 0: run until a signal; N: end after N good fetches (or the first bad one)
  std::string final_version;
  double linger_seconds = 90;

  // Where each good image is written as it arrived, as ADDRESS-N.bin (N counts the good fetches);
  // empty: nowhere.
  std::string save_images;
};

inline constexpr int MAX_DEVICES = 1000;

enum OptionsResult { OPTIONS_RUN = 0, OPTIONS_HELP = 1, OPTIONS_ERROR = 2 };

// Every device the simulator plays. The options before the first --address are the defaults each
// device starts from; each --address starts a device of its own, which the options after it (up to the
// next --address) set alone; --count N adds N devices with the defaults at 127.0.0.2 and up. Without
// --address and --count there is one device, at 127.0.0.2. With several devices, a device whose MAC
// address or serial number was not given gets one made from its address.
OptionsResult parse_sim_devices(int argc, const char* const* argv, std::vector<SimConfig>& devices,
                                std::string& error);
// The first device alone.
OptionsResult parse_sim_options(int argc, const char* const* argv, SimConfig& config, std::string& error);
const char* sim_usage();

}  // namespace qor::sim
