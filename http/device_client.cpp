#include "http/device_client.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "base/trace.h"
#include "http/digest.h"

namespace qor {

namespace {

// Appends as much of `text` as fits; the buffer stays terminated.
void append_text(char* buffer, std::size_t size, const char* text) {
  std::size_t used = std::strlen(buffer);
  if (used + 1 < size) copy_text(buffer + used, size - used, text);
}

void format_request(const char* path, char* buffer, std::size_t size, SharedDigest& digest) {
  std::snprintf(buffer, size, "GET %s HTTP/1.1\r\n", path);
  append_text(buffer, size, FIXED_HOST_LINE);
  char line[AUTHORIZATION_LINE_SIZE] = "";
  {
    std::lock_guard lock(digest.mutex);
    DigestState& state = digest.state;
    if (state.password[0]) {
      ++state.nonce_count;
      copy_text(state.uri, sizeof state.uri, path);
      build_digest_authorization(state, line, sizeof line);
    }
  }
  append_text(buffer, size, line);
  append_text(buffer, size, "\r\n");
}

std::int32_t receive_reply(SocketHandle handle, char* buffer, std::int32_t capacity) {
  std::int32_t count = 0;
  while (count < capacity) {
    long n = receive_bytes(handle, buffer + count, static_cast<std::size_t>(capacity - count));
    if (n <= 0) break;
    count += static_cast<std::int32_t>(n);
    buffer[count] = '\0';
  }
  return count;
}

void extract_device_info(const char* reply, DeviceInfo& info) {
  extract_page_field(reply, "Product Name:", info.product_name, DEVICE_FIELD_MAX);
  extract_page_field(reply, "MAC Address:", info.mac_address, DEVICE_FIELD_MAX);
  extract_page_field(reply, "Software Version:", info.software_version, DEVICE_FIELD_MAX);
  extract_page_field(reply, "Hardware Version:", info.hardware_version, DEVICE_FIELD_MAX);
  extract_page_field(reply, "Serial Number:", info.serial_number, DEVICE_FIELD_MAX);
}

}  // namespace

SocketHandle open_device_connection(std::uint32_t bind_address, std::uint16_t bind_port_base,
                                    std::uint32_t remote_address, std::uint16_t remote_port, Outcome& failure,
                                    unsigned timeout_ms) {
  Socket socket(open_tcp_socket());
  if (!socket.valid()) {
    failure = Outcome::http_socket_failed;
    return INVALID_SOCKET_HANDLE;
  }
  bool bound = false;
  for (unsigned i = 0; i < BIND_PORT_TRIES && !bound; ++i) {
    unsigned port = bind_port_base + i;
    if (port > 0xFFFF) break;
    bound = bind_socket(socket.get(), bind_address, static_cast<std::uint16_t>(port));
  }
  if (!bound) {
    failure = Outcome::http_bind_failed;
    return INVALID_SOCKET_HANDLE;
  }
  if (timeout_ms > 0) set_socket_timeouts(socket.get(), timeout_ms);
  if (!connect_socket(socket.get(), remote_address, remote_port)) return INVALID_SOCKET_HANDLE;
  return socket.release();
}

RequestResult fetch_device_page(const RequestJob& job, char* reply_buffer, std::int32_t reply_capacity,
                                SharedDigest& digest, DeviceInfo& info) {
  RequestResult result;
  if (!reply_buffer || reply_capacity < 0) return result;
  Socket socket(open_device_connection(job.bind_address, job.bind_port_base, job.remote_address,
                                       job.remote_port, result.failure, job.timeout_ms));
  if (result.failure != Outcome::none) return result;
  std::size_t buffer_size = static_cast<std::size_t>(reply_capacity) + 1;
  format_request(job.path ? job.path : "/", reply_buffer, buffer_size, digest);
  if (socket.valid()) {
    debug_trace("%s", reply_buffer);
    send_bytes(socket.get(), reply_buffer, std::strlen(reply_buffer));
    result.received = receive_reply(socket.get(), reply_buffer, reply_capacity);
    debug_trace("recv done\n");
    debug_trace("%s", reply_buffer);
    debug_trace("\n");
  }
  int status;
  {
    std::lock_guard lock(digest.mutex);
    status = classify_reply_status(reply_buffer, digest.state);
  }
  if (status == REPLY_AUTH_NEEDED) {
    result.received = -1;
    return result;
  }
  if (result.received > 0) extract_device_info(reply_buffer, info);
  return result;
}

int classify_reply_status(const char* reply, DigestState& state) {
  if (std::strncmp(reply, "HTTP/1.1", 8) != 0) return REPLY_NOT_HTTP_1_1;
  const char* p = reply + 8;
  if (*p) ++p;  // the character after the version, whatever it is; never past the end
  while (*p == ' ' || *p == '\t')
    ++p;
  if (!*p) return REPLY_NO_STATUS;
  if (std::strncmp(p, "200", 3) == 0) return REPLY_OK;
  if (std::strncmp(p, "401", 3) != 0) return REPLY_OTHER;
  const char* challenge = std::strstr(p, "WWW-Authenticate:");
  if (!challenge) return REPLY_OTHER;
  return parse_digest_challenge(challenge, state) == 0 ? REPLY_AUTH_NEEDED : REPLY_OTHER;
}

char* extract_page_field(const char* reply, const char* label, char* field, std::size_t max_length) {
  const char* at = std::strstr(reply, label);
  if (!at) return nullptr;
  const char* tag_end = std::strchr(at, '>');
  if (!tag_end) return nullptr;
  while (tag_end[1] == '<') {
    tag_end = std::strchr(tag_end + 1, '>');
    if (!tag_end) return nullptr;
  }
  const char* value = tag_end + 1;
  std::size_t length = 0;
  while (length < max_length && value[length] && value[length] != '<')
    ++length;
  std::memcpy(field, value, length);
  field[length] = '\0';
  return field;
}

}  // namespace qor
