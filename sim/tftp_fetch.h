// The device's TFTP client: fetches the image the upgrade request named, with the fault knobs of the
// command line, and judges what arrived.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/image_check.h"
#include "sim/sim_options.h"
#include "sim/upgrade_url.h"

namespace qor::sim {

struct FetchResult {
  bool complete = false;  // the last (short) block arrived
  std::string failure;    // why the transfer itself failed; empty when complete
  std::uint32_t bytes = 0;
  ImageVerdict image;              // meaningful when complete
  std::vector<std::uint8_t> data;  // the image as it arrived, when complete
};

FetchResult run_tftp_fetch(const SimConfig& config, const UpgradeTarget& target);

// Packet helpers, shared with the tests.
std::vector<std::uint8_t> make_read_request(std::string_view name,
                                            const std::vector<std::pair<std::string, std::string>>& options);
// Option name/value pairs of an OACK (opcode already checked); false when the packet is malformed.
bool parse_option_ack(const std::uint8_t* packet, std::size_t size,
                      std::vector<std::pair<std::string, std::string>>& options);
// The name a confused device asks for first: every letter's case turned over.
std::string wrong_name(std::string_view name);

}  // namespace qor::sim
