#include "sim/tftp_fetch.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "net/socket.h"
#include "sim/sim_log.h"

namespace qor::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t OP_RRQ = 1, OP_DATA = 3, OP_ACK = 4, OP_ERROR = 5, OP_OACK = 6;
constexpr std::size_t BLOCK = 512;
constexpr std::size_t MAX_IMAGE = 64u << 20;  // far above what TFTP with 512-byte blocks can number
constexpr double DALLY_SECONDS = 1.0;
constexpr double WRONG_NAME_WAIT = 2.0;

enum class Phase { AWAIT_FIRST, AWAIT_DATA, SILENT, DONE, FAILED };

struct Fetch {
  Fetch(const SimConfig& c, const UpgradeTarget& t)
      : config(c), target(t), timeout(c.tftp_timeout > 0 ? c.tftp_timeout : 0.1) {}

  const SimConfig& config;
  UpgradeTarget target;
  Socket sock;
  Socket second;  // the other port for --ack-from-second-port
  bool server_known = false;
  std::uint32_t server_address = 0;
  std::uint16_t server_port = 0;
  unsigned counted_packets = 0;  // for --drop-every
  double timeout;
  Phase phase = Phase::AWAIT_FIRST;
  std::vector<std::uint8_t> last_sent;
  std::vector<std::uint8_t> image;
  long long tsize = -1;
  bool oack_seen = false;
  std::uint32_t expected = 1;  // next DATA block
  unsigned next_tenth = 1;
  FetchResult result;
};

std::uint16_t get_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void put_u16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
  out.push_back(static_cast<std::uint8_t>(value & 0xff));
}

void put_text(std::vector<std::uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

std::string describe(const std::uint8_t* p, std::size_t n) {
  if (n < 2) return "runt packet of " + std::to_string(n) + " bytes";
  std::uint16_t op = get_u16(p);
  std::uint16_t block = n >= 4 ? get_u16(p + 2) : 0;
  switch (op) {
    case OP_RRQ:
      return "RRQ";
    case OP_DATA:
      return "DATA " + std::to_string(block) + " (" + std::to_string(n >= 4 ? n - 4 : 0) + " bytes)";
    case OP_ACK:
      return "ACK " + std::to_string(block);
    case OP_ERROR:
      return "ERROR " + std::to_string(block);
    case OP_OACK:
      return "OACK";
    default:
      return "opcode " + std::to_string(op);
  }
}

bool counts_for_drop(const Fetch& f, bool outgoing) {
  if (f.config.drop_every == 0) return false;
  DropDirection d = f.config.drop_direction;
  return d == DropDirection::BOTH || (outgoing ? d == DropDirection::OUT : d == DropDirection::IN);
}

bool drop_now(Fetch& f, bool outgoing) {
  if (!counts_for_drop(f, outgoing)) return false;
  return ++f.counted_packets % f.config.drop_every == 0;
}

void send_from(Fetch& f, SocketHandle from, const std::vector<std::uint8_t>& packet, const char* note) {
  std::string what = describe(packet.data(), packet.size());
  if (drop_now(f, true)) {
    sim_log("tftp", "drop outgoing %s%s (--drop-every %u)", what.c_str(), note, f.config.drop_every);
    return;
  }
  const Endpoint to =
      f.server_known ? Endpoint{f.server_address, f.server_port} : Endpoint{f.target.address, f.target.port};
  if (send_datagram(from, packet.data(), packet.size(), to) < 0)
    sim_log("tftp", "sending %s%s failed", what.c_str(), note);
}

void send_packet(Fetch& f, const std::vector<std::uint8_t>& packet) {
  f.last_sent = packet;
  send_from(f, f.sock.get(), packet, "");
}

// One datagram, or 0 after `seconds` without one, or -1 when the simulator is stopping.
long receive_packet(Fetch& f, std::uint8_t* buf, std::size_t size, double seconds, std::uint32_t& from,
                    std::uint16_t& port) {
  auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (!stop_requested) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    if (!wait_readable(f.sock.get(), static_cast<int>(std::min<long long>(left, 100)))) continue;
    long n = receive_datagram(f.sock.get(), buf, size, from, port);
    if (n < 0) continue;
    if (drop_now(f, false)) {
      sim_log("tftp", "drop incoming %s (--drop-every %u)", describe(buf, n).c_str(), f.config.drop_every);
      continue;
    }
    return n;
  }
  return -1;
}

void fail(Fetch& f, std::string why) {
  f.phase = Phase::FAILED;
  f.result.failure = std::move(why);
}

void send_error(Fetch& f, unsigned code, std::string_view message) {
  std::vector<std::uint8_t> packet;
  put_u16(packet, OP_ERROR);
  put_u16(packet, code);
  put_text(packet, message);
  send_packet(f, packet);
}

// Acknowledges `block` the way the fault knobs say.
void acknowledge(Fetch& f, std::uint32_t block) {
  if (f.config.send_error_at >= 0 && block == static_cast<std::uint32_t>(f.config.send_error_at)) {
    sim_log("tftp", "sending ERROR instead of ACK %u (--send-error)", block);
    send_error(f, 0, "simulated device error");
    fail(f, "gave up with an ERROR instead of ACK " + std::to_string(block) + " (--send-error)");
    return;
  }
  std::vector<std::uint8_t> ack;
  put_u16(ack, OP_ACK);
  put_u16(ack, block & 0xffff);
  f.last_sent = ack;
  int copies = f.config.duplicate_acks ? 2 : 1;
  for (int i = 0; i < copies; ++i) {
    if (f.config.second_port_acks != SecondPortAcks::ONLY) send_from(f, f.sock.get(), ack, "");
    if (f.config.second_port_acks != SecondPortAcks::NONE)
      send_from(f, f.second.get(), ack, " from the second port");
  }
  if (f.config.stop_acking_after >= 0 && block == static_cast<std::uint32_t>(f.config.stop_acking_after)) {
    sim_log("tftp", "ACK %u sent; staying silent from now on (--stop-acking-after)", block);
    f.phase = Phase::SILENT;
  }
}

bool parse_size(const std::string& text, long long& value) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::strtoll(text.c_str(), nullptr, 10);
  return true;
}

bool was_requested(const Fetch& f, const std::string& name) {
  for (const auto& o : f.config.rrq_options) {
    if (o.first == name) return true;
  }
  return false;
}

// Reads tsize and timeout; anything else the server offers is logged.
void take_option(Fetch& f, const std::string& name, const std::string& value) {
  const char* note = was_requested(f, name) ? "" : " (not requested)";
  sim_log("tftp", "  option %s=%s%s", name.c_str(), value.c_str(), note);
  long long number;
  if (name == "tsize") {
    if (!parse_size(value, number)) return fail(f, "OACK tsize '" + value + "' is not a number");
    f.tsize = number;
  } else if (name == "timeout") {
    if (!parse_size(value, number) || number < 1 || number > 255)
      return fail(f, "OACK timeout '" + value + "' outside 1..255");
    f.timeout = static_cast<double>(number);
  }
}

void on_option_ack(Fetch& f, const std::uint8_t* p, std::size_t n) {
  if (f.oack_seen) {
    sim_log("tftp", "OACK again (our ACK 0 was lost?): acknowledging again");
    if (f.expected == 1) acknowledge(f, 0);
    return;
  }
  std::vector<std::pair<std::string, std::string>> options;
  if (!parse_option_ack(p, n, options)) return fail(f, "malformed OACK");
  f.oack_seen = true;
  sim_log("tftp", "OACK with %zu option(s)", options.size());
  for (const auto& o : options) {
    take_option(f, o.first, o.second);
    if (f.phase == Phase::FAILED) return;
  }
  f.phase = Phase::AWAIT_DATA;
  acknowledge(f, 0);
}

void log_progress(Fetch& f) {
  if (f.tsize > 0) {
    while (f.next_tenth <= 10 && static_cast<long long>(f.image.size()) * 10 >= f.tsize * f.next_tenth) {
      sim_log("tftp", "%3u%%  %zu of %lld bytes (block %u)", f.next_tenth * 10, f.image.size(), f.tsize,
              f.expected);
      ++f.next_tenth;
    }
  } else if (f.image.size() >= (static_cast<std::size_t>(f.next_tenth) << 20)) {
    sim_log("tftp", "%zu bytes so far (block %u)", f.image.size(), f.expected);
    ++f.next_tenth;
  }
}

void on_data(Fetch& f, const std::uint8_t* p, std::size_t n) {
  std::uint16_t block = get_u16(p + 2);
  std::size_t payload = n - 4;
  if (block == ((f.expected - 1) & 0xffff) && f.expected > 1) {
    sim_log("tftp", "DATA %u again: acknowledging again", block);
    return acknowledge(f, f.expected - 1);
  }
  if (block != (f.expected & 0xffff)) {
    sim_log("tftp", "DATA %u while waiting for %u: ignored", block, f.expected);
    return;
  }
  if (payload > BLOCK)
    return fail(f, "DATA " + std::to_string(block) + " carries " + std::to_string(payload) + " bytes");
  if (!f.oack_seen && f.expected == 1)
    sim_log("tftp", "DATA 1 without an OACK: the server ignored our options");
  if (f.image.size() + payload > MAX_IMAGE) return fail(f, "image larger than the device can take");
  f.image.insert(f.image.end(), p + 4, p + n);
  f.phase = Phase::AWAIT_DATA;
  log_progress(f);
  acknowledge(f, f.expected);
  ++f.expected;
  if (payload < BLOCK && f.phase != Phase::FAILED) {
    f.phase = Phase::DONE;
    sim_log("tftp", "last block %u (%zu bytes): %zu bytes in all", block, payload, f.image.size());
  }
}

void on_error(Fetch& f, const std::uint8_t* p, std::size_t n) {
  std::string message;
  if (n > 4)
    message.assign(reinterpret_cast<const char*>(p + 4),
                   strnlen(reinterpret_cast<const char*>(p + 4), n - 4));
  fail(f, "server sent ERROR " + std::to_string(n >= 4 ? get_u16(p + 2) : 0) + " '" + message + "'");
}

// The first answer fixes the server's transfer port; later packets from elsewhere are not ours.
bool from_server(Fetch& f, std::uint32_t from, std::uint16_t port) {
  if (f.server_known) {
    if (from == f.server_address && port == f.server_port) return true;
    sim_log("tftp", "packet from unknown source %s:%u ignored", ipv4_text(from).c_str(), port);
    return false;
  }
  if (from != f.target.address) {
    sim_log("tftp", "answer from %s:%u, not the server we asked: ignored", ipv4_text(from).c_str(), port);
    return false;
  }
  f.server_known = true;
  f.server_address = from;
  f.server_port = port;
  sim_log("tftp", "server answers from port %u%s", port,
          port == f.target.port ? " (its listening port)" : "");
  return true;
}

void dispatch(Fetch& f, const std::uint8_t* p, std::size_t n) {
  if (n < 4) {
    sim_log("tftp", "%s ignored", describe(p, n).c_str());
    return;
  }
  switch (get_u16(p)) {
    case OP_OACK:
      return on_option_ack(f, p, n);
    case OP_DATA:
      return on_data(f, p, n);
    case OP_ERROR:
      return on_error(f, p, n);
    default:
      sim_log("tftp", "unexpected %s ignored", describe(p, n).c_str());
  }
}

// Repeats the last packet after a quiet spell; false once the retries are spent.
bool repeat_after_timeout(Fetch& f, int& retries) {
  if (f.phase == Phase::SILENT) {
    fail(f, "stopped acknowledging after block " + std::to_string(f.config.stop_acking_after) +
                " (--stop-acking-after); the server has gone quiet");
    return false;
  }
  if (++retries > f.config.tftp_retries) {
    fail(f, "no answer from the server after " + std::to_string(f.config.tftp_retries) + " repeats");
    return false;
  }
  sim_log("tftp", "nothing for %.1f s: repeating %s", f.timeout,
          describe(f.last_sent.data(), f.last_sent.size()).c_str());
  std::vector<std::uint8_t> again = f.last_sent;
  if (again.size() == 4 && get_u16(again.data()) == OP_ACK) {
    acknowledge(f, get_u16(again.data() + 2));
  } else {
    send_packet(f, again);
  }
  return f.phase != Phase::FAILED;
}

void run_transfer(Fetch& f) {
  std::uint8_t buf[2048];
  int retries = 0;
  while (f.phase != Phase::DONE && f.phase != Phase::FAILED) {
    std::uint32_t from;
    std::uint16_t port;
    long n = receive_packet(f, buf, sizeof buf, f.timeout, from, port);
    if (n < 0) return fail(f, "simulator stopping");
    if (n == 0) {
      if (!repeat_after_timeout(f, retries)) return;
      continue;
    }
    if (!from_server(f, from, port)) continue;
    if (f.phase == Phase::SILENT) {
      sim_log("tftp", "silent: %s not acknowledged", describe(buf, n).c_str());
      continue;
    }
    retries = 0;
    dispatch(f, buf, static_cast<std::size_t>(n));
  }
}

// A server that lost our last ACK sends its last block again; answer for a little while.
void dally(Fetch& f) {
  std::uint8_t buf[2048];
  auto end = Clock::now() +
             std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(DALLY_SECONDS));
  while (Clock::now() < end) {
    std::uint32_t from;
    std::uint16_t port;
    double left = std::chrono::duration<double>(end - Clock::now()).count();
    long n = receive_packet(f, buf, sizeof buf, left, from, port);
    if (n <= 0) return;
    if (!from_server(f, from, port)) continue;
    if (n >= 4 && get_u16(buf) == OP_DATA && get_u16(buf + 2) == ((f.expected - 1) & 0xffff)) {
      sim_log("tftp", "last DATA again: acknowledging again");
      acknowledge(f, f.expected - 1);
    } else {
      sim_log("tftp", "after the transfer: %s ignored", describe(buf, n).c_str());
    }
  }
}

void ask_wrong_name_first(Fetch& f) {
  std::string name = wrong_name(f.target.file_name);
  sim_log("tftp", "asking for the wrong name %s first (--wrong-name-first)", name.c_str());
  send_packet(f, make_read_request(name, f.config.rrq_options));
  std::uint8_t buf[2048];
  std::uint32_t from;
  std::uint16_t port;
  long n = receive_packet(f, buf, sizeof buf, WRONG_NAME_WAIT, from, port);
  if (n > 0) {
    sim_log("tftp", "FAULT: %s:%u answered the wrong name with %s", ipv4_text(from).c_str(), port,
            describe(buf, n).c_str());
  } else if (n == 0) {
    sim_log("tftp", "no answer to the wrong name, as it should be");
  }
}

std::string options_text(const SimConfig& config) {
  std::string text;
  for (const auto& o : config.rrq_options)
    text += " " + o.first + "=" + o.second;
  return text;
}

bool open_sockets(Fetch& f) {
  f.sock = Socket(open_udp_socket());
  if (!f.sock.valid() || !bind_socket(f.sock.get(), f.config.address, 0)) return false;
  if (f.config.second_port_acks == SecondPortAcks::NONE) return true;
  f.second = Socket(open_udp_socket());
  return f.second.valid() && bind_socket(f.second.get(), f.config.address, 0);
}

// The same name asked for again from a port of its own, while the device flashes: nothing may answer
// it, least of all with another image. Waits up to a minute and a half on a thread of its own.
void ask_again(const SimConfig& config, const UpgradeTarget& target) {
  std::thread([config, target] {
    Fetch f(config, target);
    if (!open_sockets(f)) return;
    sim_log("tftp", "asking for %s again (--repeat-request)", target.file_name.c_str());
    send_packet(f, make_read_request(target.file_name, config.rrq_options));
    std::uint8_t buf[2048];
    std::uint32_t from;
    std::uint16_t port;
    long n = receive_packet(f, buf, sizeof buf, 90, from, port);
    if (n > 0)
      sim_log("tftp", "FAULT: %s:%u answered %s again with %s", ipv4_text(from).c_str(), port,
              target.file_name.c_str(), describe(buf, n).c_str());
    else if (n == 0)
      sim_log("tftp", "no answer to %s asked again, as it should be", target.file_name.c_str());
  }).detach();
}

void judge(Fetch& f) {
  f.result.bytes = static_cast<std::uint32_t>(f.image.size());
  if (f.phase != Phase::DONE) return;
  f.result.complete = true;
  f.result.image = check_image(f.image, f.config.product_id, f.tsize);
  f.result.data = std::move(f.image);
}

}  // namespace

std::vector<std::uint8_t> make_read_request(std::string_view name,
                                            const std::vector<std::pair<std::string, std::string>>& options) {
  std::vector<std::uint8_t> packet;
  put_u16(packet, OP_RRQ);
  put_text(packet, name);
  put_text(packet, "octet");
  for (const auto& o : options) {
    put_text(packet, o.first);
    put_text(packet, o.second);
  }
  return packet;
}

bool parse_option_ack(const std::uint8_t* packet, std::size_t size,
                      std::vector<std::pair<std::string, std::string>>& options) {
  if (size < 2) return false;
  if (size == 2) return true;
  if (packet[size - 1] != 0) return false;
  std::vector<std::string> texts;
  for (std::size_t pos = 2; pos < size;) {
    const char* start = reinterpret_cast<const char*>(packet + pos);
    std::size_t len = strnlen(start, size - pos);
    texts.emplace_back(start, len);
    pos += len + 1;
  }
  if (texts.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < texts.size(); i += 2) {
    if (texts[i].empty()) return false;
    options.emplace_back(texts[i], texts[i + 1]);
  }
  return true;
}

std::string wrong_name(std::string_view name) {
  std::string out(name);
  bool changed = false;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
      changed = true;
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
      changed = true;
    }
  }
  if (!changed) out += 'x';
  return out;
}

FetchResult run_tftp_fetch(const SimConfig& config, const UpgradeTarget& target) {
  Fetch f(config, target);
  if (!is_loopback(target.address)) {
    f.result.failure = "server address is not a loopback address";
    return f.result;
  }
  if (!open_sockets(f)) {
    f.result.failure = "cannot open a UDP socket on " + ipv4_text(config.address);
    return f.result;
  }
  sim_log("tftp", "fetching %s from %s:%u (device port %u)", target.file_name.c_str(),
          ipv4_text(target.address).c_str(), target.port, local_port(f.sock.get()));
  if (config.wrong_name_first) ask_wrong_name_first(f);
  if (stop_requested) {
    f.result.failure = "simulator stopping";
    return f.result;
  }
  sim_log("tftp", "RRQ %s octet%s", target.file_name.c_str(), options_text(config).c_str());
  send_packet(f, make_read_request(target.file_name, config.rrq_options));
  run_transfer(f);
  if (f.phase == Phase::DONE) dally(f);
  if (f.phase == Phase::DONE && config.repeat_request) ask_again(config, target);
  judge(f);
  return f.result;
}

}  // namespace qor::sim
