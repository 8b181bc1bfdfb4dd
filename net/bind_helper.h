// The bind helper: a small program, the only one that carries CAP_NET_BIND_SERVICE, that binds a UDP
// socket to a TFTP port (69 to 168) on an address of this machine for a program that may not, and hands
// it back over a socket pair. Linux only; the programs ask it when the system refuses them the port.
//
// The exchange, over a SOCK_SEQPACKET socket pair whose helper end is its descriptor 3:
//   program -> helper   one message, the text "udp <a.b.c.d> <port>"
//   helper  -> program  one message, a 32-bit 0 with the bound socket (SCM_RIGHTS), or the errno of the
//                       failed bind; nothing at all for a request it refuses
// after which the helper ends. Every refusal is said on its standard error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/socket.h"

namespace qor {

inline constexpr std::uint16_t BIND_HELPER_FIRST_PORT = 69;
inline constexpr std::uint16_t BIND_HELPER_LAST_PORT = 168;
inline constexpr int BIND_HELPER_CHANNEL = 3;
inline constexpr std::size_t BIND_REQUEST_SIZE = 32;  // the longest request with its terminator fits

// The helper's exit statuses.
inline constexpr int BIND_HELPER_BOUND = 0;
inline constexpr int BIND_HELPER_REFUSED = 1;      // a request it does not grant
inline constexpr int BIND_HELPER_BIND_FAILED = 2;  // the system's errno was sent back
inline constexpr int BIND_HELPER_BROKEN = 3;       // no usable channel, or it could not answer

struct BindRequest {
  std::uint32_t address = 0;  // host order; 0 is the wildcard address, which is this machine's too
  std::uint16_t port = 0;
};

// Writes the request for `address` and `port` into `out` (at least BIND_REQUEST_SIZE bytes).
void format_bind_request(char* out, std::size_t size, const BindRequest& request);

// Reads and checks one request of `length` bytes: true when the helper may grant it. Otherwise
// `reason` (cut to `reason_size`) says why: not the request's form, not UDP, a port outside 69..168,
// or an address that is not this machine's.
bool check_bind_request(const char* text, std::size_t length, BindRequest& out, char* reason,
                        std::size_t reason_size);

// True for the wildcard address, an address of one of this machine's interfaces, and any address of
// the network of a loopback interface (all of 127.0.0.0/8 on Linux).
bool is_local_address(std::uint32_t address);

// The helper for this program: the one built with it when the program runs from the build tree, the
// installed one (<libexecdir>/qor-upgrade/qor-bind-helper beside <bindir>) otherwise. False when the
// program cannot tell where it is.
bool bind_helper_path(char* out, std::size_t size);

// Runs the helper at `helper` with `request` and takes the socket it hands back. Returns 0 with
// `out` set; the errno of the helper's bind when the system refused it the port; -1 when it refused the
// request, could not be run or answered nothing usable within a few seconds. The helper's standard
// error is `error_fd`.
int ask_bind_helper(const char* helper, const char* request, SocketHandle& out, int error_fd = 2);

}  // namespace qor
