// One HTTP GET to the device, and what the program reads from its reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "app/globals.h"
#include "http/digest.h"
#include "net/socket.h"

namespace qor {

struct RequestJob {
  AppInstance instance;
  std::uint32_t bind_address;  // 0: any local address
  std::uint16_t bind_port_base;
  std::uint32_t remote_address;
  std::uint16_t remote_port;
  const char* path;
  // Takes the request text first, then the reply: reply_capacity + 1 bytes at least, and it must
  // outlive the request (the program passes page_buffer).
  char* reply_buffer;
  std::int32_t reply_capacity;
};

inline constexpr int BIND_PORT_TRIES = 101;
inline constexpr std::size_t DEVICE_FIELD_MAX = 127;
// Every request names this host, whatever the device's address: the device ignores it.
inline constexpr const char* FIXED_HOST_LINE = "Host: 192.168.2.110\r\n";

// classify_reply_status results.
inline constexpr int REPLY_NOT_HTTP_1_1 = -1;
inline constexpr int REPLY_NO_STATUS = -2;
inline constexpr int REPLY_OK = 0;
inline constexpr int REPLY_AUTH_NEEDED = 1;
inline constexpr int REPLY_OTHER = 2;

// Held by a request for its whole run: page_buffer, device_info and digest_state belong to the request
// that holds it. Requests come from the main thread and the TFTP listener thread.
std::mutex& request_mutex();

// Thread entry of a request: runs fetch_device_page with the job under request_mutex().
std::int32_t request_worker(const RequestJob* job);

// -1: the device demands authentication (its challenge is now in digest_state); otherwise the bytes
// received, headers included, 0 when nothing came. Fills device_info from the reply.
std::int32_t fetch_device_page(std::uint32_t bind_address, std::uint16_t bind_port_base,
                               std::uint32_t remote_address, std::uint16_t remote_port, const char* path,
                               char* reply_buffer, std::int32_t reply_capacity);

// A connected TCP socket bound to bind_address and the first free port of bind_port_base + 0..100;
// INVALID_SOCKET_HANDLE when the connect fails. Ends the upgrade when no socket can be made or bound.
SocketHandle open_device_connection(std::uint32_t bind_address, std::uint16_t bind_port_base,
                                    std::uint32_t remote_address, std::uint16_t remote_port);

// One of the REPLY_* codes; a 401 with a usable challenge stores it in `state`.
int classify_reply_status(const char* reply, DigestState& state);

// Copies the text after the tags that follow `label` (at most max_length characters, up to the next
// '<') into `field` and returns it; null, field untouched, when the label or a tag is missing.
char* extract_page_field(const char* reply, const char* label, char* field, std::size_t max_length);

}  // namespace qor
