// The platform's socket interface behind a thin layer: IPv4 only, addresses in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // the platform's SOCKET
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;
#endif

// A peer: IPv4 address and port in host byte order; address 0 is the wildcard.
struct Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Starts the platform's socket library where it has one to start (version 1.1 of the interface);
// false when it cannot. Everything else here needs it to have succeeded.
bool start_networking();

void close_socket(SocketHandle handle);  // an invalid handle is left alone

// Closes the socket it holds when it goes out of scope.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : handle_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.release();
    }
    return *this;
  }
  ~Socket() { close(); }

  SocketHandle get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_SOCKET_HANDLE; }
  SocketHandle release() {
    SocketHandle h = handle_;
    handle_ = INVALID_SOCKET_HANDLE;
    return h;
  }
  void close() { close_socket(release()); }

 private:
  SocketHandle handle_ = INVALID_SOCKET_HANDLE;
};

SocketHandle open_tcp_socket();
SocketHandle open_udp_socket();
bool bind_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port);
// Binds a UDP socket. On Linux, where the system refuses this program the port for want of privilege,
// the bind helper (net/bind_helper.h) is asked for it, and the socket it binds takes the place of the
// one in `sock`. False when neither could bind it.
bool bind_udp_socket(Socket& sock, std::uint32_t address, std::uint16_t port);
bool connect_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port);
bool set_nonblocking(SocketHandle handle);
// Bounds each blocking send and receive (and, on Linux, connect) to `timeout_ms`; 0 leaves them unbounded.
void set_socket_timeouts(SocketHandle handle, unsigned timeout_ms);
// Lets a listening socket bind a port that connections of an earlier one still hold.
void set_reuse_address(SocketHandle handle);
bool listen_socket(SocketHandle handle, int backlog);
// The next connection waiting on a listening socket, and its peer; INVALID_SOCKET_HANDLE when none.
SocketHandle accept_connection(SocketHandle listener, Endpoint& peer);
// Closes a connection with a reset instead of an orderly end.
void abort_connection(SocketHandle handle);
// The local port a socket is bound to (host order), 0 on failure.
std::uint16_t local_port(SocketHandle handle);

// Waits up to `timeout_ms` for the socket to become readable; true when it is.
bool wait_readable(SocketHandle handle, int timeout_ms);

// One datagram of at most `size` bytes; returns its length, or -1 when none was waiting or on error.
long receive_datagram(SocketHandle handle, void* buffer, std::size_t size, std::uint32_t& from_address,
                      std::uint16_t& from_port);
long send_datagram(SocketHandle handle, const void* data, std::size_t size, const Endpoint& to);
long send_bytes(SocketHandle handle, const void* data, std::size_t size);
long receive_bytes(SocketHandle handle, void* buffer, std::size_t size);

// This PC's IPv4 addresses, in the order the system gives them, at most `capacity`: on Linux those of
// the interfaces that are up, loopback left out; on Windows those the lookup of the host's own name
// gives, as they are. With `loopback`, loopback addresses alone (a device simulated on this machine is
// reached from a loopback address only; on Windows that is 127.0.0.1). Returns how many were stored.
int enumerate_local_addresses(std::uint32_t* out, int capacity, bool loopback = false);

}  // namespace qor
