// Reads a Digest-protected status page the way the upgrade does, from a server on a loopback address,
// and prints the five device fields.
//
//   status_reader ADDRESS USERNAME PASSWORD
//
// Exit status: 0 the page was read (twice, the second time under the same nonce); 1 the server refused
// the credentials; 2 anything else (bad arguments, no challenge, no reply).
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/run.h"
#include "base/text.h"
#include "http/device_client.h"

namespace {

struct StatusFields {
  std::string product_name, mac_address, software_version, hardware_version, serial_number;
};

enum class Outcome { read, refused, failed };

// The one place that calls the upgrade's HTTP code: the unauthenticated request that earns the
// challenge, then two requests with the credentials under that nonce (nc 1 and 2).
Outcome read_status(std::uint32_t address, const char* username, const char* password, StatusFields& out) {
  using namespace qor;
  constexpr std::uint32_t bind_address = 0x7F000001;  // 127.0.0.1
  UpgradeRun run;
  DeviceInfo info{};
  std::vector<char> page(PAGE_BUFFER_SIZE);
  auto fetch = [&] {
    const RequestJob job{bind_address, HTTP_BIND_PORT_BASE, address, DEVICE_HTTP_PORT, STATUS_PAGE_PATH};
    RequestResult result = fetch_device_page(job, page.data(), PAGE_CAPACITY, *run.digest, info);
    return result.failure == qor::Outcome::none ? result.received : 0;
  };
  if (fetch() != -1) return Outcome::failed;
  DigestState& state = run.digest->state;
  copy_text(state.username, sizeof state.username, username);
  copy_text(state.password, sizeof state.password, password);
  for (int i = 0; i < 2; ++i) {
    info = DeviceInfo{};
    std::int32_t result = fetch();
    if (result == -1) return Outcome::refused;
    if (result == 0) return Outcome::failed;
  }
  out = {info.product_name, info.mac_address, info.software_version, info.hardware_version,
         info.serial_number};
  return Outcome::read;
}

}  // namespace

int main(int argc, char** argv) {
  in_addr parsed{};
  if (argc != 4 || inet_pton(AF_INET, argv[1], &parsed) != 1) {
    std::fprintf(stderr, "usage: status_reader ADDRESS USERNAME PASSWORD\n");
    return 2;
  }
  std::uint32_t address = ntohl(parsed.s_addr);
  if (address >> 24 != 127) {
    std::fprintf(stderr, "status_reader: loopback addresses only\n");
    return 2;
  }
  StatusFields fields;
  switch (read_status(address, argv[2], argv[3], fields)) {
    case Outcome::read:
      std::printf(
          "Product Name: %s\nMAC Address: %s\nSoftware Version: %s\nHardware Version: %s\n"
          "Serial Number: %s\n",
          fields.product_name.c_str(), fields.mac_address.c_str(), fields.software_version.c_str(),
          fields.hardware_version.c_str(), fields.serial_number.c_str());
      return 0;
    case Outcome::refused:
      std::printf("refused\n");
      return 1;
    case Outcome::failed:
      break;
  }
  std::printf("no usable reply\n");
  return 2;
}
