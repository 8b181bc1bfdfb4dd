#include "tftp/tftp_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "app/globals.h"
#include "app/timing.h"
#include "http/request_runner.h"
#include "net/clock.h"
#include "ui/dialog_templates.h"
#include "ui/dialogs.h"
#include "ui/error_box.h"

namespace qor {

std::atomic<Window> upload_window{Window::none};

namespace {

using Clock = std::chrono::steady_clock;

// After a block has gone out, the socket is read without sleeping for this long before the poll
// waits: a prompt acknowledgement is then taken without the wake-up of a sleeping thread, which
// measured as most of the time per block on loopback (0.9 s against 0.35 s for 8 MiB). Past it the
// wait is passive again, so a slower device costs at most this much CPU per block.
constexpr std::chrono::microseconds REPLY_SPIN(100);

struct TransferState {
  TftpSession& s;
  const unsigned char* image;
  Window window;
  const char* stage_name;
  sockaddr_in peer;
  Clock::time_point interval_start;
  Clock::time_point last_pump;
  Clock::time_point last_send;
  unsigned intervals;
};

Clock::duration poll_time() {
  return std::chrono::milliseconds(std::max(1u, timing.tftp_poll_ms));
}

Arrival read_arrival(TransferState& t) {
  std::uint32_t from = 0;
  std::uint16_t port = 0;
  long n = receive_datagram(t.s.sock, t.s.packet, sizeof t.s.packet, from, port);
  if (n < 0) return Arrival::nothing;
  return classify_arrival(t.s, static_cast<std::size_t>(n), from, port);
}

void send_current_block(TransferState& t) {
  send_data_block(t.s.sock, t.s.packet, block_payload(t.s, t.image), static_cast<std::size_t>(t.s.block_len),
                  t.s.next_block, t.peer);
}

void show_upload_progress(const TransferState& t) {
  toolkit().progress_pos(t.window, IDC_PROGRESS, static_cast<int>(t.s.next_block));
  char title[192];
  std::snprintf(title, sizeof title, "Uploading %s Firmware to QOR@%s %d/%d Bytes", t.stage_name,
                device_address_text, static_cast<int>(t.s.acked_bytes), static_cast<int>(t.s.image_size));
  toolkit().set_window_text(t.window, title);
}

void restart_interval(TransferState& t) {
  t.interval_start = Clock::now();
}

// Moves on after the awaited acknowledgement; true once every block has been acknowledged.
bool advance(TransferState& t) {
  TftpSession& s = t.s;
  const bool complete = take_acknowledgement(s);
  t.intervals = 0;
  restart_interval(t);
  show_upload_progress(t);
  if (complete) {
    debug_trace("All blocks ack'd\n");
    return true;
  }
  send_current_block(t);
  t.last_send = Clock::now();
  debug_trace("Send block %d (%d)\n", static_cast<int>(s.next_block), static_cast<int>(s.block_len));
  return false;
}

void retransmit(TransferState& t) {
  if (t.s.next_block == 0) {
    debug_trace("ReSend option ack\n");
    send_option_ack(t.s.sock, t.s.packet, t.peer, t.s.image_size);
  } else {
    debug_trace("ReSend block %d\n", static_cast<int>(t.s.next_block));
    send_current_block(t);
  }
  t.last_send = Clock::now();
  restart_interval(t);
}

// The window's messages are handled after every empty poll, and also while datagrams keep coming
// without a pause, so that Cancel still works when the socket is flooded.
void pump_window(TransferState& t, Arrival arrival) {
  Clock::time_point now = Clock::now();
  if (arrival != Arrival::nothing && now - t.last_pump < poll_time()) return;
  t.last_pump = now;
  toolkit().pump_one(t.window);
}

// An interval is measured in elapsed poll time rather than in empty polls: a stream of stray datagrams
// must neither hold off the retransmission and the time-out nor hasten them.
bool interval_over(const TransferState& t) {
  return Clock::now() - t.interval_start >= poll_time() * std::max(1u, timing.polls_per_interval);
}

}  // namespace

Arrival classify_arrival(const TftpSession& session, std::size_t length, std::uint32_t from,
                         std::uint16_t port) {
  if (from != session.peer_addr || port != session.peer_port) {
    debug_trace("Unknown source request in session: %x:%u", from, static_cast<unsigned>(port));
    return Arrival::unproductive;
  }
  // A short datagram would leave the block number of our own last packet in the buffer.
  if (length < TFTP_HEADER_SIZE || get_u16_be(session.packet) != TFTP_ACK) return Arrival::unproductive;
  return get_u16_be(session.packet + 2) == session.next_block ? Arrival::matched : Arrival::stale;
}

bool take_acknowledgement(TftpSession& session) {
  session.next_block += 1;
  session.acked_bytes += session.block_len;
  if (session.next_block > session.block_count) return true;
  session.block_len = session.next_block == session.block_count ? session.last_block_len
                                                                : static_cast<std::int32_t>(TFTP_BLOCK_SIZE);
  return false;
}

const unsigned char* block_payload(const TftpSession& session, const unsigned char* image) {
  if (!image || session.next_block == 0) return nullptr;
  return image + static_cast<std::size_t>(session.next_block - 1) * TFTP_BLOCK_SIZE;
}

void init_tftp_session(TftpSession& session, SocketHandle sock, std::uint32_t local_addr,
                       std::uint32_t peer_addr, std::uint16_t peer_port, std::uint32_t image_size) {
  std::memset(&session, 0, sizeof session);
  session.sock = sock;
  session.local_addr = local_addr;
  session.peer_addr = peer_addr;
  session.peer_port = peer_port;
  session.image_size = image_size;
  session.last_block_len = static_cast<std::int32_t>(image_size % TFTP_BLOCK_SIZE);
  session.block_count = image_size / TFTP_BLOCK_SIZE + 1;
  debug_trace("++++size %d, %d, %d\n", static_cast<int>(image_size), static_cast<int>(session.last_block_len),
              static_cast<int>(session.block_count));
}

TransferOutcome run_transfer(TftpSession& session, const unsigned char* image, Window window,
                             const char* stage_name) {
  TransferState t{session, image, window, stage_name, {}, Clock::now(), Clock::now(), Clock::now(), 0};
  fill_socket_address(session.peer_addr, session.peer_port, t.peer);
  set_nonblocking(session.sock);
  send_option_ack(session.sock, session.packet, t.peer, session.image_size);
  restart_interval(t);
  for (;;) {
    Arrival arrival = read_arrival(t);
    if (arrival == Arrival::matched) {
      if (advance(t)) return TransferOutcome::complete;
      continue;
    }
    if (arrival == Arrival::nothing && Clock::now() - t.last_send < REPLY_SPIN) continue;
    pump_window(t, arrival);
    // A stale acknowledgement is dropped without waiting: the next datagram may be the awaited one.
    if (arrival != Arrival::stale) wait_readable(session.sock, static_cast<int>(timing.tftp_poll_ms));
    if (!interval_over(t)) continue;
    if (++t.intervals >= timing.max_intervals) {
      debug_trace("Timeout for ack; upgrade failed\n");
      return TransferOutcome::timeout;
    }
    retransmit(t);
  }
}

void run_settling_wait(Window window, const char* stage_name) {
  const unsigned shift = std::clamp(timing.settle_shift, 1u, 31u);
  const std::uint32_t steps = timing.settle_steps;
  const std::uint32_t start = time_get_time() >> shift;
  toolkit().progress_range(window, IDC_PROGRESS, 0, static_cast<int>(steps));
  toolkit().progress_pos(window, IDC_PROGRESS, 0);
  char title[160];
  std::snprintf(title, sizeof title, "Updating %s Firmware to QOR@%s", stage_name, device_address_text);
  toolkit().set_window_text(window, title);
  for (;;) {
    std::uint32_t now = time_get_time() >> shift;
    if (now < start) now += 1u << (32 - shift);  // the millisecond clock has wrapped
    std::uint32_t passed = now - start;
    toolkit().progress_pos(window, IDC_PROGRESS, static_cast<int>(std::min(passed, steps)));
    toolkit().pump_all(window);
    if (passed >= steps) return;
    sleep_ms(timing.settle_sleep_ms);
  }
}

void verify_upgrade(const TftpSession& session, const FirmwareImage& image, std::int32_t stage) {
  std::int32_t received = 0;
  for (unsigned attempt = 0; attempt < timing.verify_attempts && received <= 0; ++attempt) {
    received = run_device_request(RequestJob{app_instance, session.local_addr, HTTP_BIND_PORT_BASE,
                                             session.peer_addr, DEVICE_HTTP_PORT, STATUS_PAGE_PATH,
                                             page_buffer, PAGE_CAPACITY});
  }
  if (received <= 0) {
    show_error("Upgrade Failed: No Response From QOR");
    return;
  }
  // The header guarantees a terminator, but the comparison stays inside it regardless.
  const std::size_t room = IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET;
  char expected[IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET + 1];
  std::size_t length = strnlen(image_version(image), room);
  std::memcpy(expected, image_version(image), length);
  expected[length] = '\0';
  debug_trace("[%d]%s %s\n", static_cast<int>(stage), expected, device_info.software_version);
  if (!phone_variant && std::strcmp(expected, device_info.software_version) != 0) {
    show_error("Upgrade Failed: Version not matching");
    return;
  }
  if (stage == 1) toolkit().dialog_box(IDD_SUCCESS, success_dialog_proc);
}

int run_tftp_session(SocketHandle sock, std::uint32_t local_addr, std::uint32_t peer_addr,
                     std::uint16_t peer_port) {
  std::unique_ptr<TftpSession> session(new (std::nothrow) TftpSession);
  if (!session) fail_upgrade("Upgrade Failed: Can't malloc for TFTP session");
  const std::int32_t stage = upgrade_stage.load();
  const FirmwareImage& image = stage != 0 ? target_image : transition_image;
  const char* stage_name = stage != 0 ? "Target" : "Transition";
  init_tftp_session(*session, sock, local_addr, peer_addr, peer_port, image.size);

  Window window = toolkit().create_dialog(IDD_UPLOAD, transfer_dialog_proc);
  upload_window.store(window);
  toolkit().progress_range(window, IDC_PROGRESS, 0, static_cast<int>(session->block_count & 0xFFFF));
  TransferOutcome outcome = run_transfer(*session, image.data, window, stage_name);
  run_settling_wait(window, stage_name);
  toolkit().destroy_window(window);
  upload_window.store(Window::none);

  if (outcome == TransferOutcome::timeout) {
    show_error("Upgrade Failed: Firmware Upload Incomplete");
    return 0;
  }
  verify_upgrade(*session, image, stage);
  return 0;
}

std::intptr_t transfer_dialog_proc(Window window, unsigned message, std::uintptr_t wparam, std::intptr_t) {
  if (message == MSG_INITDIALOG) {
    center_window(window);
    return 1;
  }
  if (message == MSG_COMMAND && command_id(wparam) == IDCANCEL) {
    toolkit().destroy_window(window);
    fail_upgrade("Upgrade Failed: User Abort");
  }
  return 0;
}

}  // namespace qor
