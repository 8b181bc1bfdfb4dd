#include "sim/upgrade_url.h"

#include <cstdio>

namespace qor::sim {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Reads up to `max_digits` decimal digits at `pos`; false when there are none or too many.
bool read_number(std::string_view text, std::size_t& pos, std::size_t max_digits, std::uint32_t& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < text.size() && is_digit(text[pos])) {
    if (pos - start == max_digits) return false;
    value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool read_ipv4(std::string_view text, std::size_t& pos, std::uint32_t& address) {
  address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    std::uint32_t value;
    if (!read_number(text, pos, 3, value) || value > 255) return false;
    address = (address << 8) | value;
  }
  return true;
}

// A name the device could put in a read request: printable ASCII, no blanks.
bool is_sendable_name(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
  }
  return true;
}

}  // namespace

bool parse_ipv4(std::string_view text, std::uint32_t& address) {
  std::size_t pos = 0;
  return read_ipv4(text, pos, address) && pos == text.size();
}

bool is_loopback(std::uint32_t address) {
  return (address >> 24) == 127;
}

std::string ipv4_text(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xff,
                (address >> 8) & 0xff, address & 0xff);
  return text;
}

UrlResult parse_upgrade_target(std::string_view request_target, UpgradeTarget& out, std::string& why) {
  if (request_target.substr(0, UPGRADE_PREFIX.size()) != UPGRADE_PREFIX) return URL_NOT_UPGRADE;
  std::string_view rest = request_target.substr(UPGRADE_PREFIX.size());
  constexpr std::string_view SCHEME = "tftp://";
  if (rest.substr(0, SCHEME.size()) != SCHEME) {
    why = "no tftp:// after the question mark";
    return URL_MALFORMED;
  }
  std::size_t pos = SCHEME.size();
  UpgradeTarget target;
  if (!read_ipv4(rest, pos, target.address)) {
    why = "server address is not a dotted quad";
    return URL_MALFORMED;
  }
  if (pos < rest.size() && rest[pos] == ':') {
    ++pos;
    std::uint32_t port;
    if (!read_number(rest, pos, 5, port) || port == 0 || port > 65535) {
      why = "bad server port";
      return URL_MALFORMED;
    }
    target.port = static_cast<std::uint16_t>(port);
  }
  std::string_view name = rest.substr(pos);
  if (name.size() < 2 || name[0] != '/') {
    why = "no file name after the server";
    return URL_MALFORMED;
  }
  if (name.size() > MAX_FILE_NAME || !is_sendable_name(name)) {
    why = "file name too long or not printable";
    return URL_MALFORMED;
  }
  target.file_name = std::string(name);
  out = target;
  return URL_OK;
}

}  // namespace qor::sim
