// The device's whole reply as the request leaves it: status line, challenge and the status page fields.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/trace.h"
#include "http/device_client.h"
#include "http/digest.h"

namespace {

constexpr const char* LABELS[] = {
    "Product Name:", "MAC Address:", "Software Version:", "Hardware Version:", "Serial Number:"};
constexpr std::size_t FIELD_SIZE = sizeof qor::DeviceInfo{}.product_name;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Trace lines quote the reply; formatting them must stay inside the trace buffer.
void trace_sink(const char* line) {
  check(std::strlen(line) < 1024);
}

// Every field in its own allocation, so that writing past one is caught instead of landing in the next.
void extract_fields(const char* reply) {
  for (const char* label : LABELS) {
    std::vector<char> field(FIELD_SIZE, '#');
    char* result = qor::extract_page_field(reply, label, field.data(), qor::DEVICE_FIELD_MAX);
    if (!result) {
      check(field[0] == '#');
      continue;
    }
    check(result == field.data());
    std::size_t length = strnlen(field.data(), FIELD_SIZE);
    check(length <= qor::DEVICE_FIELD_MAX);
    check(std::memchr(field.data(), '<', length) == nullptr);
  }
}

// The line the next request would carry, with the longest credentials the password dialog stores.
void check_authorization(qor::DigestState& state) {
  std::memset(state.username, 'u', 126);
  std::memset(state.password, 'p', 126);
  std::memset(state.uri, '/', 127);
  state.nonce_count += 1;
  std::vector<char> line(qor::AUTHORIZATION_LINE_SIZE);
  int n = qor::build_digest_authorization(state, line.data(), line.size());
  check(n > 2 && static_cast<std::size_t>(n) < line.size());
  check(std::strlen(line.data()) == static_cast<std::size_t>(n));
  check(line[n - 2] == '\r' && line[n - 1] == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (qor::set_trace_sink(trace_sink), true);
  (void)ready;
  // The request keeps at most PAGE_CAPACITY bytes and terminates them; the copy ends right behind the
  // terminator, so that a read past it is caught.
  const std::size_t n = std::min<std::size_t>(size, qor::PAGE_CAPACITY);
  std::vector<char> reply(n + 1);
  if (n) std::memcpy(reply.data(), data, n);
  reply[n] = '\0';

  qor::DigestState state{};
  int code = qor::classify_reply_status(reply.data(), state);
  check(code >= qor::REPLY_NO_STATUS && code <= qor::REPLY_OTHER);
  for (const char* text : {state.realm, state.nonce, state.cnonce, state.opaque, state.uri})
    check(strnlen(text, 128) < 128);
  check(strnlen(state.qop, sizeof state.qop) < sizeof state.qop);
  check(strnlen(state.algorithm, sizeof state.algorithm) < sizeof state.algorithm);
  if (code == qor::REPLY_AUTH_NEEDED) {
    check_authorization(state);
  } else {
    extract_fields(reply.data());
  }
  return 0;
}
