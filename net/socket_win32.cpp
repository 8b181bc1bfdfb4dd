// The socket layer on Winsock 1.1.
#include "net/socket.h"

#define WIN32_LEAN_AND_MEAN
#include <winsock.h>

#include <cstring>

namespace qor {

namespace {

SOCKET native(SocketHandle handle) {
  return static_cast<SOCKET>(handle);
}

void fill_socket_address(std::uint32_t address, std::uint16_t port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  out.sin_addr.s_addr = htonl(address);
}

}  // namespace

bool start_networking() {
  WSADATA data;
  return WSAStartup(0x0101, &data) == 0;
}

SocketHandle open_tcp_socket() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? INVALID_SOCKET_HANDLE : static_cast<SocketHandle>(s);
}

SocketHandle open_udp_socket() {
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  return s == INVALID_SOCKET ? INVALID_SOCKET_HANDLE : static_cast<SocketHandle>(s);
}

void close_socket(SocketHandle handle) {
  if (handle != INVALID_SOCKET_HANDLE) ::closesocket(native(handle));
}

bool bind_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa;
  fill_socket_address(address, port, sa);
  return ::bind(native(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool bind_udp_socket(Socket& sock, std::uint32_t address, std::uint16_t port) {
  return bind_socket(sock.get(), address, port);  // Windows has no privileged ports to ask for
}

bool connect_socket(SocketHandle handle, std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa;
  fill_socket_address(address, port, sa);
  return ::connect(native(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool set_nonblocking(SocketHandle handle) {
  u_long on = 1;
  return ::ioctlsocket(native(handle), FIONBIO, &on) == 0;
}

// Winsock takes the limits in milliseconds; its connect keeps the system's own time-out.
void set_socket_timeouts(SocketHandle handle, unsigned timeout_ms) {
  DWORD limit = timeout_ms;
  ::setsockopt(native(handle), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  ::setsockopt(native(handle), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

void set_reuse_address(SocketHandle handle) {
  BOOL one = TRUE;
  ::setsockopt(native(handle), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
}

bool listen_socket(SocketHandle handle, int backlog) {
  return ::listen(native(handle), backlog) == 0;
}

SocketHandle accept_connection(SocketHandle listener, Endpoint& peer) {
  sockaddr_in sa{};
  int len = sizeof sa;
  SOCKET s = ::accept(native(listener), reinterpret_cast<sockaddr*>(&sa), &len);
  if (s == INVALID_SOCKET) return INVALID_SOCKET_HANDLE;
  peer.address = ntohl(sa.sin_addr.s_addr);
  peer.port = ntohs(sa.sin_port);
  return static_cast<SocketHandle>(s);
}

void abort_connection(SocketHandle handle) {
  linger l{1, 0};
  ::setsockopt(native(handle), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  ::closesocket(native(handle));
}

std::uint16_t local_port(SocketHandle handle) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(native(handle), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool wait_readable(SocketHandle handle, int timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(native(handle), &readable);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &tv) > 0;
}

// The socket is non-blocking, or known to be readable: this never waits.
long receive_datagram(SocketHandle handle, void* buffer, std::size_t size, std::uint32_t& from_address,
                      std::uint16_t& from_port) {
  sockaddr_in from{};
  int len = sizeof from;
  int n = ::recvfrom(native(handle), static_cast<char*>(buffer), static_cast<int>(size), 0,
                     reinterpret_cast<sockaddr*>(&from), &len);
  if (n == SOCKET_ERROR) {
    // A datagram longer than the buffer fills it and reports an error here; elsewhere it is simply cut.
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
    n = static_cast<int>(size);
  }
  from_address = ntohl(from.sin_addr.s_addr);
  from_port = ntohs(from.sin_port);
  return n;
}

long send_datagram(SocketHandle handle, const void* data, std::size_t size, const Endpoint& to) {
  sockaddr_in sa;
  fill_socket_address(to.address, to.port, sa);
  return ::sendto(native(handle), static_cast<const char*>(data), static_cast<int>(size), 0,
                  reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

long send_bytes(SocketHandle handle, const void* data, std::size_t size) {
  return ::send(native(handle), static_cast<const char*>(data), static_cast<int>(size), 0);
}

long receive_bytes(SocketHandle handle, void* buffer, std::size_t size) {
  return ::recv(native(handle), static_cast<char*>(buffer), static_cast<int>(size), 0);
}

int enumerate_local_addresses(std::uint32_t* out, int capacity, bool loopback) {
  if (capacity <= 0) return 0;
  // A device simulated on this PC is reached from 127.0.0.1, whatever the lookup below would give.
  if (loopback) {
    out[0] = 0x7F000001;
    return 1;
  }
  char name[128] = {};
  ::gethostname(name, 127);
  int count = 0;
  if (const hostent* host = ::gethostbyname(name); host && host->h_addrtype == AF_INET) {
    for (char** entry = host->h_addr_list; *entry && count < capacity; ++entry) {
      std::uint32_t net_order;
      std::memcpy(&net_order, *entry, sizeof net_order);
      std::uint32_t address = ntohl(net_order);
      if (address != 0) out[count++] = address;  // as the lookup gives them, 127.0.0.1 included
    }
  }
  return count;
}

}  // namespace qor
