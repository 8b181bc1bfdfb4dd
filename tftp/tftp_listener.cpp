#include "tftp/tftp_listener.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/process.h"
#include "base/text.h"
#include "base/trace.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"
#include "ui/texts.h"
#include "ui/toolkit.h"

namespace qor {

namespace {

using Clock = std::chrono::steady_clock;

struct WaitState {
  Window window;
  TransferWindowState window_state;
  int progress;
  Clock::time_point last_step;
};

// One step of the waiting window: the bar moves on and the window's messages are handled.
void step_waiting_window(WaitState& w) {
  w.last_step = Clock::now();
  w.progress = (w.progress + 1) % WAITING_PROGRESS_STEPS;
  toolkit().progress_pos(w.window, waiting_ids::BAR, w.progress);
  toolkit().pump_all(w.window);
}

// True when the datagram (at least its opcode long) is a read request for the expected name.
bool is_our_request(const unsigned char* data, std::size_t length, const TftpFilename& expected) {
  char requested[TFTP_RX_BUFFER_SIZE];
  const auto* name = reinterpret_cast<const char*>(data + 2);
  std::size_t room = length - 2;
  const bool terminated = std::memchr(name, '\0', room) != nullptr;
  std::size_t n = std::min(room, sizeof requested - 1);
  std::memcpy(requested, name, n);
  requested[n] = '\0';
  char announced[128];
  expected.get(announced, sizeof announced);
  debug_trace("%s %s\n", announced, requested);
  if (terminated && expected.equals(requested)) return true;
  debug_trace("+++ Bad TFTP RRQ filename %s\n", requested);
  return false;
}

void trace_other_opcode(unsigned opcode) {
  switch (opcode) {
    case TFTP_WRQ:
      debug_trace("TFTP Rx WRQ?\n");
      break;
    case TFTP_DATA:
      debug_trace("TFTP Rx Data?\n");
      break;
    case TFTP_ACK:
      debug_trace("TFTP Rx ACK?\n");
      break;
    case TFTP_ERROR:
      debug_trace("TFTP Rx Error?\n");
      break;
    default:
      break;
  }
}

}  // namespace

bool accept_listener_datagram(const unsigned char* datagram, std::size_t length,
                              const TftpFilename& expected) {
  if (length < 2) return false;
  unsigned opcode = get_u16_be(datagram);
  if (opcode == TFTP_RRQ) return is_our_request(datagram, length, expected);
  trace_other_opcode(opcode);
  return false;
}

Outcome open_tftp_listener(std::uint32_t local_addr, TftpListener& listener) {
  listener.sock = Socket(open_udp_socket());
  if (!listener.sock.valid()) return Outcome::listener_socket_failed;
  int attempt = 0;
  while (!bind_udp_socket(listener.sock, local_addr, static_cast<std::uint16_t>(TFTP_FIRST_PORT + attempt))) {
    if (++attempt == TFTP_PORT_ATTEMPTS) return Outcome::listener_bind_failed;
  }
  listener.local_addr = local_addr;
  listener.port = static_cast<std::uint16_t>(TFTP_FIRST_PORT + attempt);
  return Outcome::none;
}

Outcome wait_for_read_request(TftpListener& listener, const TftpFilename& expected, std::uint32_t device,
                              bool explain, const Timing& timing, TftpRequester& requester) {
  WaitState w{Window::none, {}, 0, Clock::now()};
  w.window = toolkit().create_dialog(IDD_WAITING, transfer_dialog_proc,
                                     reinterpret_cast<std::intptr_t>(&w.window_state));
  toolkit().progress_range(w.window, waiting_ids::BAR, 0, WAITING_PROGRESS_STEPS);
  toolkit().progress_pos(w.window, waiting_ids::BAR, 0);
  if (explain) toolkit().set_item_text(w.window, waiting_ids::TEXT, texts::WAITING_HELP);
  const SocketHandle sock = listener.sock.get();
  set_nonblocking(sock);
  for (;;) {
    if (w.window_state.cancelled) return Outcome::user_abort;
    if (run_ending()) end_run();  // another thread ended the run: this one must not outlive it
    std::uint32_t from = 0;
    std::uint16_t port = 0;
    long n = receive_datagram(sock, listener.rx_buffer, sizeof listener.rx_buffer, from, port);
    if (n < 0) {
      wait_readable(sock, static_cast<int>(timing.tftp_poll_ms));
      step_waiting_window(w);
      continue;
    }
    if (from != device) {
      char stranger[16];
      format_ipv4(stranger, sizeof stranger, from);
      debug_trace("+++ TFTP datagram from %s:%u ignored: not the device\n", stranger, port);
    } else if (accept_listener_datagram(listener.rx_buffer, static_cast<std::size_t>(n), expected)) {
      toolkit().destroy_window(w.window);
      requester = {from, port};
      return Outcome::none;
    }
    // Datagrams are handled back to back, but a stream of them must not freeze the window.
    if (Clock::now() - w.last_step >= std::chrono::milliseconds(std::max(1u, timing.tftp_poll_ms))) {
      step_waiting_window(w);
    }
  }
}

}  // namespace qor
