// The upgrade request names the TFTP server and file the device is to fetch:
// "/admin/upgrade?tftp://A.B.C.D:P/NAME".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor::sim {

inline constexpr std::string_view UPGRADE_PREFIX = "/admin/upgrade?";
inline constexpr std::size_t MAX_FILE_NAME = 255;

struct UpgradeTarget {
  std::uint32_t address = 0;  // host byte order
  std::uint16_t port = 69;
  std::string file_name;  // as given, leading '/' included
};

enum UrlResult { URL_OK = 0, URL_NOT_UPGRADE = 1, URL_MALFORMED = 2 };

// Strict dotted quad: four decimal parts 0..255, one to three digits each, nothing else.
bool parse_ipv4(std::string_view text, std::uint32_t& address);
bool is_loopback(std::uint32_t address);
std::string ipv4_text(std::uint32_t address);

// `why` receives a short reason when the result is URL_MALFORMED.
UrlResult parse_upgrade_target(std::string_view request_target, UpgradeTarget& out, std::string& why);

}  // namespace qor::sim
