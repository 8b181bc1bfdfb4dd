#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qor {

namespace {

void fill_socket_address(std::uint32_t address, std::uint16_t port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  out.sin_addr.s_addr = htonl(address);
}

void read_socket_address(const sockaddr_in& in, std::uint32_t& address, std::uint16_t& port) {
  address = ntohl(in.sin_addr.s_addr);
  port = ntohs(in.sin_port);
}

}  // namespace

bool start_networking() {
  return true;  // nothing to start here
}

SocketHandle open_tcp_socket() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

SocketHandle open_udp_socket() {
  return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

void close_socket(SocketHandle handle) {
  if (handle != INVALID_SOCKET_HANDLE) ::close(handle);
}

bool bind_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa;
  fill_socket_address(address, port, sa);
  return ::bind(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool connect_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa;
  fill_socket_address(address, port, sa);
  int rc;
  do {
    rc = ::connect(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool set_nonblocking(SocketHandle handle) {
  int flags = ::fcntl(handle, F_GETFL, 0);
  return flags >= 0 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

void set_socket_timeouts(SocketHandle handle, unsigned timeout_ms) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeout_ms / 1000);
  limit.tv_usec = static_cast<suseconds_t>(timeout_ms % 1000 * 1000);
  ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void set_reuse_address(SocketHandle handle) {
  int one = 1;
  ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

bool listen_socket(SocketHandle handle, int backlog) {
  return ::listen(handle, backlog) == 0;
}

SocketHandle accept_connection(SocketHandle listener, Endpoint& peer) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
  if (fd >= 0) read_socket_address(sa, peer.address, peer.port);
  return fd;
}

void abort_connection(SocketHandle handle) {
  linger l{1, 0};
  ::setsockopt(handle, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(handle);
}

std::uint16_t local_port(SocketHandle handle) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool wait_readable(SocketHandle handle, int timeout_ms) {
  pollfd p{handle, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

long receive_datagram(SocketHandle handle, void* buffer, std::size_t size, std::uint32_t& from_address,
                      std::uint16_t& from_port) {
  sockaddr_in from{};
  socklen_t len = sizeof from;
  ssize_t n = ::recvfrom(handle, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return -1;
  read_socket_address(from, from_address, from_port);
  return static_cast<long>(n);
}

long send_datagram(SocketHandle handle, const void* data, std::size_t size, const Endpoint& to) {
  sockaddr_in sa;
  fill_socket_address(to.address, to.port, sa);
  return static_cast<long>(
      ::sendto(handle, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa));
}

long send_bytes(SocketHandle handle, const void* data, std::size_t size) {
  return static_cast<long>(::send(handle, data, size, MSG_NOSIGNAL));
}

long receive_bytes(SocketHandle handle, void* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::recv(handle, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

int enumerate_local_addresses(std::uint32_t* out, int capacity, bool loopback) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  int count = 0;
  for (ifaddrs* a = list; a && count < capacity; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    if (!(a->ifa_flags & IFF_UP) || ((a->ifa_flags & IFF_LOOPBACK) != 0) != loopback) continue;
    const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    std::uint32_t address = ntohl(sa->sin_addr.s_addr);
    if (address != 0) out[count++] = address;
  }
  ::freeifaddrs(list);
  return count;
}

}  // namespace qor
