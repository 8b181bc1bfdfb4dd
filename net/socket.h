// The platform's socket interface behind a thin layer: IPv4 only, addresses in host byte order.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

namespace qor {

using SocketHandle = int;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;

// Closes the socket it holds when it goes out of scope.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  ~Socket() { close(); }

  SocketHandle get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_SOCKET_HANDLE; }
  SocketHandle release();
  void close();

 private:
  SocketHandle handle_ = INVALID_SOCKET_HANDLE;
};

// Family AF_INET, port and address in network byte order; address 0 stays the wildcard.
void fill_socket_address(std::uint32_t address, std::uint16_t port, sockaddr_in& out);
// The inverse: host-order address and port of a socket address.
void read_socket_address(const sockaddr_in& in, std::uint32_t& address, std::uint16_t& port);

SocketHandle open_tcp_socket();
SocketHandle open_udp_socket();
void close_socket(SocketHandle handle);
bool bind_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port);
bool connect_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port);
bool set_nonblocking(SocketHandle handle);
// The local port a socket is bound to (host order), 0 on failure.
std::uint16_t local_port(SocketHandle handle);

// Waits up to `timeout_ms` for the socket to become readable; true when it is.
bool wait_readable(SocketHandle handle, int timeout_ms);

// One datagram of at most `size` bytes; returns its length, or -1 when none was waiting or on error.
long receive_datagram(SocketHandle handle, void* buffer, std::size_t size, std::uint32_t& from_address,
                      std::uint16_t& from_port);
long send_datagram(SocketHandle handle, const void* data, std::size_t size, const sockaddr_in& to);
long send_bytes(SocketHandle handle, const void* data, std::size_t size);
long receive_bytes(SocketHandle handle, void* buffer, std::size_t size);

// The IPv4 addresses of the interfaces that are up, in the order the system gives them; at most
// `capacity`. Loopback addresses are left out, or taken alone with `loopback` (a device simulated on
// this machine is reached from a loopback address only). Returns how many were stored.
int enumerate_local_addresses(std::uint32_t* out, int capacity, bool loopback = false);

}  // namespace qor
