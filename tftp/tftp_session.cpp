#include "tftp/tftp_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/trace.h"
#include "net/cpu.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace qor {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Waking a thread that sleeps in poll() can cost more than the peer takes to answer: on an idle
// virtual machine of two processors a wake-up measured 35 us, a round trip on loopback between two
// threads that never sleep 10 us. So for a short while after each packet the socket may be looked at
// awake, the processor yielded between two looks, while nothing says that the looks cost more than
// they save:
// - no more tasks are ready to run than there are processors (looked up every LOAD_LOOK): on a busy
//   machine wake-ups are cheap, and a thread that keeps its processor would hold up another, the
//   peer maybe;
// - a yield came back at once: one that took long gave the processor to another task, which is then
//   left alone for BUSY_PAUSE;
// - the looks catch the answer: after MISSES misses in a row (a LAN's round trip is longer than
//   SPIN_LENGTH) the next QUIET_BLOCKS packets, twice as many after each further such run, are waited
//   for asleep only; a caught answer starts the count afresh.
// Past the looks the wait sleeps in poll() until the answer comes, the retransmission is due or the
// window is to be pumped (SILENT_PUMP after its last pump): not one poll time at a time, since every
// timer that expires before the next tick costs more than a wake-up here (on the virtual machine above,
// 1 ms polls cost 30% more processor time per block than 16 ms ones on a LAN).
constexpr milliseconds SILENT_PUMP(16);
constexpr microseconds SPIN_LENGTH(100);
constexpr microseconds LONG_YIELD(50);
constexpr milliseconds LOAD_LOOK(20);
constexpr milliseconds BUSY_PAUSE(20);
constexpr unsigned MISSES = 4;
constexpr unsigned QUIET_BLOCKS = 64;
constexpr unsigned MAX_QUIET_DOUBLINGS = 6;

class ReplySpin {
 public:
  // Whether to look for the answer to what went out at `sent` awake.
  bool worth_it(Clock::time_point sent) {
    if (quiet_blocks_ > 0) {
      --quiet_blocks_;
      return false;
    }
    if (sent < busy_until_) return false;
    if (sent >= next_load_look_) {
      next_load_look_ = sent + LOAD_LOOK;
      if (cpus_contended()) return busy(sent);
    }
    return true;
  }
  // One look is over: true to look again.
  bool yield(Clock::time_point sent) {
    Clock::time_point before = Clock::now();
    if (before - sent >= SPIN_LENGTH) return missed();
    yield_cpu();
    return Clock::now() - before < LONG_YIELD || busy(before);
  }
  void caught() {
    misses_ = 0;
    doublings_ = 0;
  }

 private:
  bool busy(Clock::time_point now) {
    busy_until_ = now + BUSY_PAUSE;
    return false;
  }
  bool missed() {
    if (++misses_ < MISSES) return false;
    misses_ = 0;
    quiet_blocks_ = QUIET_BLOCKS << doublings_;
    doublings_ = std::min(doublings_ + 1, MAX_QUIET_DOUBLINGS);
    return false;
  }

  unsigned misses_ = 0;
  unsigned quiet_blocks_ = 0;
  unsigned doublings_ = 0;
  Clock::time_point busy_until_{};
  Clock::time_point next_load_look_{};
};

struct Transfer {
  TftpSession& s;
  const unsigned char* image;
  const UploadView& view;
  const Timing& timing;
  Endpoint peer;
  Clock::time_point interval_start;
  Clock::time_point last_pump;
  Clock::time_point last_send;
  bool awaiting_reply = false;  // a packet has gone out since the last datagram was read
  ReplySpin spin;
};

Clock::duration poll_time(const Timing& timing) {
  return std::chrono::milliseconds(std::max(1u, timing.tftp_poll_ms));
}

Clock::duration interval_time(const Timing& timing) {
  return poll_time(timing) * std::max(1u, timing.polls_per_interval);
}

Arrival read_arrival(Transfer& t) {
  std::uint32_t from = 0;
  std::uint16_t port = 0;
  long n = receive_datagram(t.s.sock, t.s.packet, sizeof t.s.packet, from, port);
  if (n < 0) return Arrival::nothing;
  return classify_arrival(t.s, static_cast<std::size_t>(n), from, port);
}

// The next datagram, or nothing once the retransmission or the window's pump is due (after a packet
// has gone out, maybe looked for awake first).
Arrival next_arrival(Transfer& t) {
  if (t.awaiting_reply) {
    t.awaiting_reply = false;
    if (t.spin.worth_it(t.last_send)) {
      do {
        if (Arrival arrival = read_arrival(t); arrival != Arrival::nothing) {
          t.spin.caught();
          return arrival;
        }
      } while (t.spin.yield(t.last_send));
    }
  }
  const Clock::time_point until =
      std::min(t.interval_start + interval_time(t.timing), t.last_pump + SILENT_PUMP);
  const auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
  if (!wait_readable(t.s.sock, static_cast<int>(std::clamp<decltype(left)>(left, 0, SILENT_PUMP.count()))))
    return Arrival::nothing;
  return read_arrival(t);
}

// Sends what the step asked for; `again` for a retransmission.
void perform(Transfer& t, TransferAction action, bool again) {
  TftpSession& s = t.s;
  if (action == TransferAction::send_oack) {
    if (again) debug_trace("ReSend option ack\n");
    send_option_ack(s.sock, s.packet, t.peer, s.image_size);
  } else if (action == TransferAction::send_block) {
    send_data_block(s.sock, s.packet, block_payload(s, t.image), static_cast<std::size_t>(s.block_len),
                    s.next_block, t.peer);
    if (again)
      debug_trace("ReSend block %d\n", static_cast<int>(s.next_block));
    else
      debug_trace("Send block %d (%d)\n", static_cast<int>(s.next_block), static_cast<int>(s.block_len));
  } else {
    return;
  }
  t.last_send = Clock::now();
  t.interval_start = t.last_send;
  t.awaiting_reply = true;
}

void show_upload_progress(const Transfer& t) {
  if (t.view.window == Window::none) return;
  toolkit().progress_pos(t.view.window, IDC_PROGRESS, static_cast<int>(t.s.next_block));
  char title[192];
  std::snprintf(title, sizeof title, texts::UPLOADING_TITLE_FORMAT, t.view.stage_name,
                t.view.device_address_text, static_cast<int>(t.s.acked_bytes),
                static_cast<int>(t.s.image_size));
  toolkit().set_window_text(t.view.window, title);
}

// The window's messages are handled after every wait that found nothing, and also while datagrams keep
// coming without a pause (acknowledgements or others) at most once per poll time, so that Cancel still
// works when the answers come faster than a poll or the socket is flooded.
void pump_window(Transfer& t, Arrival arrival) {
  Clock::time_point now = Clock::now();
  if (arrival != Arrival::nothing && now - t.last_pump < poll_time(t.timing)) return;
  t.last_pump = now;
  if (t.view.window != Window::none) toolkit().pump_one(t.view.window);
}

// An interval is measured in elapsed poll time rather than in empty polls: a stream of stray datagrams
// must neither hold off the retransmission and the time-out nor hasten them.
bool interval_over(const Transfer& t) {
  return Clock::now() - t.interval_start >= interval_time(t.timing);
}

bool cancelled(const Transfer& t) {
  return t.view.state && t.view.state->cancelled;
}

}  // namespace

void init_tftp_session(TftpSession& session, SocketHandle sock, std::uint32_t local_addr,
                       std::uint32_t peer_addr, std::uint16_t peer_port, std::uint32_t image_size,
                       unsigned max_intervals) {
  std::memset(&session, 0, sizeof session);
  session.sock = sock;
  session.local_addr = local_addr;
  session.peer_addr = peer_addr;
  session.peer_port = peer_port;
  session.state = TransferState::sending_oack;
  session.image_size = image_size;
  session.last_block_len = static_cast<std::int32_t>(image_size % TFTP_BLOCK_SIZE);
  session.block_count = image_size / TFTP_BLOCK_SIZE + 1;
  session.max_intervals = max_intervals;
  debug_trace("++++size %d, %d, %d\n", static_cast<int>(image_size), static_cast<int>(session.last_block_len),
              static_cast<int>(session.block_count));
}

TransferAction step_transfer(TftpSession& s, TransferEvent event) {
  switch (event) {
    case TransferEvent::start:
      s.state = TransferState::sending_oack;
      s.next_block = 0;
      s.block_len = 0;
      s.intervals = 0;
      return TransferAction::send_oack;
    case TransferEvent::acknowledged:
      s.next_block += 1;
      s.acked_bytes += s.block_len;
      s.intervals = 0;
      if (s.next_block > s.block_count) {
        s.state = TransferState::done;
        return TransferAction::finish;
      }
      s.state = TransferState::sending_block;
      s.block_len =
          s.next_block == s.block_count ? s.last_block_len : static_cast<std::int32_t>(TFTP_BLOCK_SIZE);
      return TransferAction::send_block;
    case TransferEvent::interval_over:
      if (++s.intervals >= s.max_intervals) {
        s.state = TransferState::timed_out;
        return TransferAction::finish;
      }
      return s.state == TransferState::sending_oack ? TransferAction::send_oack : TransferAction::send_block;
  }
  return TransferAction::finish;
}

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

const unsigned char* block_payload(const TftpSession& session, const unsigned char* image) {
  if (!image || session.next_block == 0) return nullptr;
  return image + static_cast<std::size_t>(session.next_block - 1) * TFTP_BLOCK_SIZE;
}

Outcome run_transfer(TftpSession& session, const unsigned char* image, const UploadView& view,
                     const Timing& timing) {
  Transfer t{session, image, view, timing, {}, Clock::now(), Clock::now(), Clock::now(), false, {}};
  t.peer = {session.peer_addr, session.peer_port};
  set_nonblocking(session.sock);
  perform(t, step_transfer(session, TransferEvent::start), false);
  for (;;) {
    Arrival arrival = next_arrival(t);
    if (arrival == Arrival::matched) {
      // Nothing but the datagrams between an acknowledgement and the next block: the window follows.
      TransferAction action = step_transfer(session, TransferEvent::acknowledged);
      if (action == TransferAction::finish) {
        show_upload_progress(t);
        debug_trace("All blocks ack'd\n");
        return Outcome::none;
      }
      perform(t, action, false);
      show_upload_progress(t);
      pump_window(t, arrival);  // while acknowledgements keep coming, as often as after empty polls
      if (cancelled(t)) return Outcome::user_abort;
      continue;
    }
    pump_window(t, arrival);
    if (cancelled(t)) return Outcome::user_abort;
    if (!interval_over(t)) continue;
    TransferAction action = step_transfer(session, TransferEvent::interval_over);
    if (action == TransferAction::finish) {
      debug_trace("Timeout for ack; upgrade failed\n");
      return Outcome::upload_incomplete;
    }
    perform(t, action, true);
  }
}

std::intptr_t transfer_dialog_proc(Window window, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t lparam) {
  auto& state = dialog_record<TransferWindowState>(window, message, lparam);
  if (message == MSG_INITDIALOG) {
    center_window(window);
    return 1;
  }
  if (message == MSG_COMMAND && command_id(wparam) == IDCANCEL) {
    toolkit().destroy_window(window);
    state.cancelled = true;
    return 1;
  }
  return 0;
}

}  // namespace qor
