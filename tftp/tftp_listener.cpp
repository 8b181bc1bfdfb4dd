#include "tftp/tftp_listener.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

#include "app/globals.h"
#include "app/process.h"
#include "app/timing.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_session.h"
#include "ui/dialog_templates.h"
#include "ui/error_box.h"

namespace qor {

std::atomic<Window> waiting_window{Window::none};

const char* const WAITING_HELP_TEXT =
    "Firmware upload will begin when the QOR is idle, where the QOR will request to download the firmware "
    "from this PC using TFTP at the first available UDP port starting at port number 69.\r\n\r\nIf firmware "
    "download does not start, please check that you have done the following: a) Hangup properly all the "
    "phones attached to the QOR, b) Disable any firewall software (such as Internet Connection Firewall) on "
    "this PC, and c) Make sure that this PC and the QOR are on the same LAN subnet; it will not work for "
    "example if this PC is behind a router while the QOR is in front of it.";

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WAITING_PROGRESS_STEPS = 1000;

struct WaitState {
  TftpListener& listener;
  Window window;
  int progress;
  Clock::time_point last_step;
};

Window show_waiting_window(bool with_text) {
  Window window = toolkit().create_dialog(IDD_WAITING, transfer_dialog_proc);
  waiting_window.store(window);
  toolkit().progress_range(window, IDC_PROGRESS, 0, WAITING_PROGRESS_STEPS);
  toolkit().progress_pos(window, IDC_PROGRESS, 0);
  if (with_text) toolkit().set_item_text(window, IDC_WAITING_TEXT, WAITING_HELP_TEXT);
  return window;
}

// One step of the waiting window: the bar moves on and the window's messages are handled.
void step_waiting_window(WaitState& w) {
  w.last_step = Clock::now();
  w.progress = (w.progress + 1) % WAITING_PROGRESS_STEPS;
  toolkit().progress_pos(w.window, IDC_PROGRESS, w.progress);
  toolkit().pump_all(w.window);
}

// True when the datagram (at least its opcode long) is a read request for the name the device was
// told to fetch.
bool is_our_request(const unsigned char* data, std::size_t length) {
  char requested[TFTP_RX_BUFFER_SIZE];
  const auto* name = reinterpret_cast<const char*>(data + 2);
  std::size_t room = length - 2;
  const bool terminated = std::memchr(name, '\0', room) != nullptr;
  std::size_t n = std::min(room, sizeof requested - 1);
  std::memcpy(requested, name, n);
  requested[n] = '\0';
  char expected[128];
  get_tftp_filename(expected, sizeof expected);
  debug_trace("%s %s\n", expected, requested);
  if (terminated && tftp_filename_equals(requested)) return true;
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

// Serves an accepted request; returns only after the transition stage.
void serve_request(WaitState& w, std::uint32_t peer_addr, std::uint16_t peer_port) {
  toolkit().destroy_window(w.window);
  waiting_window.store(Window::none);
  run_tftp_session(w.listener.sock.get(), w.listener.local_addr, peer_addr, peer_port);
  if (upgrade_stage.load() != 0) {
    w.listener.sock.close();
    end_process(0);
  }
  upgrade_stage.store(1);
  w.window = show_waiting_window(false);
  w.progress = 0;
}

}  // namespace

bool accept_listener_datagram(const unsigned char* datagram, std::size_t length) {
  if (length < 2) return false;
  unsigned opcode = get_u16_be(datagram);
  if (opcode == TFTP_RRQ) return is_our_request(datagram, length);
  trace_other_opcode(opcode);
  return false;
}

void tftp_listener_thread(TftpListener* listener) {
  WaitState w{*listener, show_waiting_window(true), 0, Clock::now()};
  const SocketHandle sock = listener->sock.get();
  set_nonblocking(sock);
  for (;;) {
    std::uint32_t from = 0;
    std::uint16_t port = 0;
    long n = receive_datagram(sock, listener->rx_buffer, sizeof listener->rx_buffer, from, port);
    if (n < 0) {
      wait_readable(sock, static_cast<int>(timing.tftp_poll_ms));
      step_waiting_window(w);
      continue;
    }
    if (accept_listener_datagram(listener->rx_buffer, static_cast<std::size_t>(n))) {
      serve_request(w, from, port);
      continue;
    }
    // Datagrams are handled back to back, but a stream of them must not freeze the window.
    if (Clock::now() - w.last_step >= std::chrono::milliseconds(std::max(1u, timing.tftp_poll_ms))) {
      step_waiting_window(w);
    }
  }
}

std::uint16_t start_tftp_listener(std::uint32_t local_addr) {
  std::unique_ptr<TftpListener> listener(new (std::nothrow) TftpListener{});
  if (!listener) fail_upgrade("Upgrade Failed: Can't malloc for TFTP listener");
  listener->sock = Socket(open_udp_socket());
  if (!listener->sock.valid()) fail_upgrade("Upgrade Failed: Can't create TFTP listener socket");
  int attempt = 0;
  while (
      !bind_socket(listener->sock.get(), local_addr, static_cast<std::uint16_t>(TFTP_FIRST_PORT + attempt))) {
    if (++attempt == TFTP_PORT_ATTEMPTS) fail_upgrade("Upgrade Failed: Can't bind TFTP listener socket");
  }
  listener->local_addr = local_addr;
  listener->port = static_cast<std::uint16_t>(TFTP_FIRST_PORT + attempt);
  const std::uint16_t port = listener->port;
  // The record lives with the thread; only a test's end of the process ever unwinds it.
  start_core_thread([owned = std::move(listener)]() mutable { tftp_listener_thread(owned.get()); });
  return port;
}

}  // namespace qor
