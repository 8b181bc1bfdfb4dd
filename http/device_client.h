// One HTTP GET to the device, and what the program reads from its reply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/digest_state.h"
#include "base/outcome.h"
#include "base/run.h"
#include "net/socket.h"

namespace qor {

struct RequestJob {
  std::uint32_t bind_address;  // 0: any local address
  std::uint16_t bind_port_base;
  std::uint32_t remote_address;
  std::uint16_t remote_port;
  const char* path;  // sent as it is
  // Limit of the connect and of each wait for the reply, in ms; 0: none but the system's. A device that
  // never answers then gives the local port back at this deadline.
  unsigned timeout_ms = 0;
};

// What a request brought back.
struct RequestResult {
  Outcome failure = Outcome::none;  // no HTTP socket could be opened or bound; or (runner) Cancel
  // The bytes of the reply, headers included; 0 when nothing came. fetch_device_page gives -1 when the
  // device demands authentication (its challenge is then in the Digest state); the runner never does.
  std::int32_t received = 0;
};

inline constexpr int BIND_PORT_TRIES = 101;
inline constexpr std::size_t DEVICE_FIELD_MAX = DEVICE_FIELD_SIZE - 1;
// Every request names this host, whatever the device's address: the device ignores it.
inline constexpr const char* FIXED_HOST_LINE = "Host: 192.168.2.110\r\n";

// classify_reply_status results.
inline constexpr int REPLY_NOT_HTTP_1_1 = -1;
inline constexpr int REPLY_NO_STATUS = -2;
inline constexpr int REPLY_OK = 0;
inline constexpr int REPLY_AUTH_NEEDED = 1;
inline constexpr int REPLY_OTHER = 2;

// One request from connect to close. `reply_buffer` (reply_capacity + 1 bytes) takes the request text,
// then the reply; `info` takes the fields the reply carries and keeps the others. The Digest state is
// locked only while the Authorization line is built and while a challenge is taken.
RequestResult fetch_device_page(const RequestJob& job, char* reply_buffer, std::int32_t reply_capacity,
                                SharedDigest& digest, DeviceInfo& info);

// A connected TCP socket bound to bind_address and the first free port of bind_port_base + 0..100;
// INVALID_SOCKET_HANDLE when it cannot be had, with `failure` set when no socket could be made or bound
// (a refused or failed connect leaves it as it is).
SocketHandle open_device_connection(std::uint32_t bind_address, std::uint16_t bind_port_base,
                                    std::uint32_t remote_address, std::uint16_t remote_port, Outcome& failure,
                                    unsigned timeout_ms = 0);

// One of the REPLY_* codes; a 401 with a usable challenge stores it in `state`.
int classify_reply_status(const char* reply, DigestState& state);

// Copies the text after the tags that follow `label` (at most max_length characters, up to the next
// '<') into `field` and returns it; null, field untouched, when the label or a tag is missing.
char* extract_page_field(const char* reply, const char* label, char* field, std::size_t max_length);

}  // namespace qor
