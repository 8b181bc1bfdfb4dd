// The bind helper's request: written by the programs, read and checked by the helper.
#include "net/bind_helper.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qor {

namespace {

constexpr const char* FORM = "the request is not \"udp <IPv4 address> <port>\"";

// A decimal port without sign, spaces or leading zeros.
bool parse_port(const char* text, std::uint16_t& out) {
  std::size_t digits = std::strspn(text, "0123456789");
  if (digits == 0 || digits > 5 || text[digits] != '\0' || (text[0] == '0' && digits > 1)) return false;
  unsigned long value = std::strtoul(text, nullptr, 10);
  if (value > 65535) return false;
  out = static_cast<std::uint16_t>(value);
  return true;
}

void format_address(char* out, std::size_t size, std::uint32_t a) {
  std::snprintf(out, size, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

}  // namespace

void format_bind_request(char* out, std::size_t size, const BindRequest& request) {
  char address[16];
  format_address(address, sizeof address, request.address);
  std::snprintf(out, size, "udp %s %u", address, static_cast<unsigned>(request.port));
}

bool check_bind_request(const char* text, std::size_t length, BindRequest& out, char* reason,
                        std::size_t reason_size) {
  char copy[BIND_REQUEST_SIZE];
  if (length >= sizeof copy || std::memchr(text, '\0', length) != nullptr) {
    std::snprintf(reason, reason_size, "%s", FORM);
    return false;
  }
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  // Three words, one space apart: the protocol, the address and the port.
  char* address = std::strchr(copy, ' ');
  if (address) *address++ = '\0';
  char* port = address ? std::strchr(address, ' ') : nullptr;
  if (port) *port++ = '\0';
  if (std::strcmp(copy, "tcp") == 0) {
    std::snprintf(reason, reason_size, "only UDP ports are bound, not TCP");
    return false;
  }
  in_addr parsed{};
  if (!port || std::strcmp(copy, "udp") != 0 || ::inet_pton(AF_INET, address, &parsed) != 1 ||
      !parse_port(port, out.port)) {
    std::snprintf(reason, reason_size, "%s", FORM);
    return false;
  }
  out.address = ntohl(parsed.s_addr);
  if (out.port < BIND_HELPER_FIRST_PORT || out.port > BIND_HELPER_LAST_PORT) {
    std::snprintf(reason, reason_size, "port %u is outside %u..%u", static_cast<unsigned>(out.port),
                  static_cast<unsigned>(BIND_HELPER_FIRST_PORT),
                  static_cast<unsigned>(BIND_HELPER_LAST_PORT));
    return false;
  }
  if (!is_local_address(out.address)) {
    char shown[16];
    format_address(shown, sizeof shown, out.address);
    std::snprintf(reason, reason_size, "%s is not an address of this machine", shown);
    return false;
  }
  return true;
}

bool is_local_address(std::uint32_t address) {
  if (address == 0) return true;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool local = false;
  for (ifaddrs* a = list; a && !local; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    std::uint32_t own = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
    std::uint32_t mask = 0xFFFFFFFFu;
    if ((a->ifa_flags & IFF_LOOPBACK) && a->ifa_netmask && a->ifa_netmask->sa_family == AF_INET)
      mask = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
    local = (address & mask) == (own & mask);
  }
  ::freeifaddrs(list);
  return local;
}

}  // namespace qor
