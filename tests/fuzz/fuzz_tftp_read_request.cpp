// One datagram as the TFTP listener reads it while it waits for the device's read request.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/run.h"
#include "base/trace.h"
#include "tftp/tftp_listener.h"

namespace {

constexpr const char* NAME = "/qor1a2b.bi1";

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void trace_sink(const char* line) {
  check(std::strlen(line) < 1024);
}

// A read request for NAME: opcode 1, the name, its terminator; whatever follows does not matter.
bool names_our_file(const std::vector<unsigned char>& d) {
  const std::size_t length = std::strlen(NAME);
  return d.size() >= 2 + length + 1 && d[0] == 0 && d[1] == 1 && std::memcmp(&d[2], NAME, length) == 0 &&
         d[2 + length] == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qor::TftpFilename expected;
  static bool ready = (qor::set_trace_sink(trace_sink), expected.set(NAME), true);
  (void)ready;
  // The listener reads at most its receive buffer; a longer datagram arrives cut to that size.
  std::vector<unsigned char> datagram(data, data + std::min(size, qor::TFTP_RX_BUFFER_SIZE));
  check(qor::accept_listener_datagram(datagram.data(), datagram.size(), expected) ==
        names_our_file(datagram));
  return 0;
}
