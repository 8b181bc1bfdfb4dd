#include "sim/http_server.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <thread>

#include "net/socket.h"
#include "sim/digest_check.h"
#include "sim/http_request.h"
#include "sim/sim_log.h"

namespace qor::sim {

namespace {

constexpr int REQUEST_SECONDS = 10;  // a client that has not sent its request by then is dropped
constexpr int POLL_MS = 100;

struct Connection {
  Device& device;
  Socket sock;
  std::string peer;  // "A.B.C.D:P" for the log
};

// Sleeps in small steps so that a stop is seen; false when the device is stopping.
bool wait_or_stop(const Device& d, double seconds) {
  auto end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    if (device_stopping(d)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !device_stopping(d);
}

HeadResult read_head(Connection& c, HttpRequest& request) {
  std::string data;
  auto end = Clock::now() + std::chrono::seconds(REQUEST_SECONDS);
  char buf[2048];
  while (!device_stopping(c.device) && Clock::now() < end) {
    if (!wait_readable(c.sock.get(), POLL_MS)) continue;
    long n = receive_bytes(c.sock.get(), buf, sizeof buf);
    if (n <= 0) return HEAD_INCOMPLETE;
    data.append(buf, static_cast<std::size_t>(n));
    HeadResult r = parse_request_head(data, request);
    if (r != HEAD_INCOMPLETE) return r;
  }
  return HEAD_INCOMPLETE;
}

// Sends the reply and closes our side; what the client still sends is read away so that the close
// does not turn into a reset that could cut off the reply.
void send_reply(Connection& c, const std::string& reply) {
  std::size_t sent = 0;
  while (sent < reply.size()) {
    long n = send_bytes(c.sock.get(), reply.data() + sent, reply.size() - sent);
    if (n <= 0) {
      sim_log("http", "%s: sending the reply failed", c.peer.c_str());
      return;
    }
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(c.sock.get(), SHUT_WR);
  char buf[512];
  for (int i = 0; i < 10 && wait_readable(c.sock.get(), 50); ++i) {
    if (receive_bytes(c.sock.get(), buf, sizeof buf) <= 0) break;
  }
}

void reply(Connection& c, int status, const char* reason, const std::string& body,
           const std::string& headers = "") {
  send_reply(c, build_response(status, reason, headers, body));
}

void reply_simple(Connection& c, int status, const char* reason) {
  reply(c, status, reason,
        "<html><body><h1>" + std::to_string(status) + " " + reason + "</h1></body></html>\n");
}

bool authorized(Connection& c, const HttpRequest& request) {
  const SimConfig& config = c.device.config;
  if (!config.auth) return true;
  AuthCheck check = check_authorization(config.digest, request.authorization, request.method, request.target,
                                        [&c](const std::string& n) { return nonce_known(c.device, n); });
  if (check.verdict == AUTH_OK) {
    sim_log("auth", "%s: accepted (nonce %s, nc %s)", c.peer.c_str(), check.nonce.c_str(),
            check.nc.empty() ? "-" : check.nc.c_str());
    return true;
  }
  std::string nonce = issue_nonce(c.device);
  sim_log("auth", "%s: %s%s%s -> 401, nonce %s", c.peer.c_str(), auth_verdict_name(check.verdict),
          check.detail.empty() ? "" : ": ", check.detail.c_str(), nonce.c_str());
  bool stale = check.verdict == AUTH_STALE_NONCE;
  reply(c, 401, "Unauthorized", "<html><body><h1>401 Unauthorized</h1></body></html>\n",
        challenge_header(config.digest, nonce, stale));
  return false;
}

void serve_status(Connection& c) {
  const SimConfig& config = c.device.config;
  StatusValues values{config.product_name,      config.mac_address,
                      device_version(c.device), config.hardware_version,
                      config.serial_number,     !(config.no_version_after && device_flashed(c.device))};
  reply(c, 200, "OK", status_page(values));
  sim_log("http", "%s: 200 status page, software version %s", c.peer.c_str(),
          values.software_version.c_str());
  note_status_page(c.device);
}

std::string upgrade_page(const UpgradeTarget& t) {
  return "<html><body><p>Firmware upgrade started: fetching " + t.file_name + " from " +
         ipv4_text(t.address) + ":" + std::to_string(t.port) + ".</p></body></html>\n";
}

// Answers (late, with --delay-upgrade-reply) and starts the fetch before or after the answer.
void accept_upgrade(Connection& c, const UpgradeTarget& target) {
  const SimConfig& config = c.device.config;
  if (config.fetch_before_reply || config.hold_upgrade_request) start_fetch(c.device, target);
  if (config.hold_upgrade_request) {
    // A device that restarts with the request unanswered: the connection stays open, nothing more is
    // ever sent on it, and no reset comes back.
    sim_log("http", "%s: holding the upgrade request open, never answering it", c.peer.c_str());
    while (wait_or_stop(c.device, 1)) {
    }
    return;
  }
  if (config.delay_upgrade_reply > 0) {
    sim_log("http", "%s: holding the upgrade reply for %.1f s", c.peer.c_str(), config.delay_upgrade_reply);
    if (!wait_or_stop(c.device, config.delay_upgrade_reply)) return;
  }
  reply(c, 200, "OK", upgrade_page(target));
  sim_log("http", "%s: 200 upgrade accepted", c.peer.c_str());
  if (!config.fetch_before_reply) start_fetch(c.device, target);
}

void serve_upgrade(Connection& c, const HttpRequest& request) {
  UpgradeTarget target;
  std::string why;
  if (parse_upgrade_target(request.target, target, why) != URL_OK) {
    sim_log("http", "%s: malformed upgrade request (%s) -> 400", c.peer.c_str(), why.c_str());
    return reply_simple(c, 400, "Bad Request");
  }
  std::string server = ipv4_text(target.address) + ":" + std::to_string(target.port);
  if (!is_loopback(target.address)) {
    sim_log("http", "%s: refusing to fetch from %s, not a loopback address -> 403", c.peer.c_str(),
            server.c_str());
    return reply_simple(c, 403, "Forbidden");
  }
  if (c.device.config.never_fetch) {
    reply(c, 200, "OK", upgrade_page(target));
    sim_log("http", "%s: 200 upgrade accepted, but not fetching %s from %s (--never-fetch)", c.peer.c_str(),
            target.file_name.c_str(), server.c_str());
    return;
  }
  if (!claim_fetch(c.device)) {
    sim_log("http", "%s: busy with another upgrade -> 503", c.peer.c_str());
    return reply_simple(c, 503, "Service Unavailable");
  }
  accept_upgrade(c, target);
}

void hold_until_stop(Connection& c) {
  sim_log("http", "%s: holding the connection without an answer (--never-answer-http)", c.peer.c_str());
  while (!device_stopping(c.device))
    std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
}

void route(Connection& c, const HttpRequest& request) {
  sim_log("http", "%s: %s %s (Host: %s%s)", c.peer.c_str(), request.method.c_str(), request.target.c_str(),
          request.host.c_str(), request.has_authorization ? ", with Authorization" : "");
  bool status = request.target == "/admin/advanced";
  bool upgrade = request.target.compare(0, UPGRADE_PREFIX.size(), UPGRADE_PREFIX) == 0;
  if (!status && !upgrade) {
    sim_log("http", "%s: unknown page -> 404", c.peer.c_str());
    return reply_simple(c, 404, "Not Found");
  }
  if (request.method != "GET") {
    sim_log("http", "%s: method %s -> 405", c.peer.c_str(), request.method.c_str());
    return reply_simple(c, 405, "Method Not Allowed");
  }
  if (!authorized(c, request)) return;
  status ? serve_status(c) : serve_upgrade(c, request);
}

void serve_connection(Connection c) {
  set_log_device(c.device.label);
  if (c.device.config.never_answer_http) {
    hold_until_stop(c);
  } else {
    HttpRequest request;
    HeadResult head = read_head(c, request);
    if (head == HEAD_MALFORMED) {
      sim_log("http", "%s: malformed request -> 400", c.peer.c_str());
      reply_simple(c, 400, "Bad Request");
    } else if (head == HEAD_INCOMPLETE) {
      sim_log("http", "%s: closed before a whole request arrived", c.peer.c_str());
    } else if (device_offline(c.device)) {
      sim_log("http", "%s: restarting, closing without an answer", c.peer.c_str());
    } else {
      route(c, request);
    }
  }
  --c.device.open_connections;
}

Socket open_listener(const SimConfig& config) {
  Socket s(open_tcp_socket());
  if (!s.valid()) return s;
  set_reuse_address(s.get());
  if (!bind_socket(s.get(), config.address, config.http_port) || !listen_socket(s.get(), 16)) return Socket();
  return s;
}

void accept_one(Device& d, SocketHandle listener) {
  Endpoint from;
  Socket conn(accept_connection(listener, from));
  if (!conn.valid()) return;
  timeval limit{5, 0};  // a client that stops reading must not pin the connection's thread
  ::setsockopt(conn.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  ++d.open_connections;
  std::thread(serve_connection,
              Connection{d, std::move(conn), ipv4_text(from.address) + ":" + std::to_string(from.port)})
      .detach();
}

// Closes the web server while the device restarts and opens it again after.
void follow_restart(Device& d, Socket& listener) {
  bool offline = device_offline(d);
  if (offline && listener.valid()) {
    listener.close();
    sim_log("http", "restarting: web server off");
  } else if (!offline && !listener.valid()) {
    listener = open_listener(d.config);
    if (listener.valid()) sim_log("http", "web server back, software version %s", device_version(d).c_str());
  }
}

void wait_for_connections(const Device& d) {
  while (d.open_connections > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

int run_http_server(Device& d) {
  set_log_device(d.label);
  Socket listener = open_listener(d.config);
  std::string where = ipv4_text(d.config.address) + ":" + std::to_string(d.config.http_port);
  if (!listener.valid()) {
    sim_log("http", "cannot listen on %s", where.c_str());
    return EXIT_NO_LISTEN;
  }
  sim_log("http", "listening on %s, software version %s%s", where.c_str(), d.config.version_before.c_str(),
          d.config.auth ? ", Digest authentication on" : "");
  while (!device_stopping(d) && !device_done(d)) {
    follow_restart(d, listener);
    if (!listener.valid()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else if (wait_readable(listener.get(), POLL_MS)) {
      accept_one(d, listener.get());
    }
  }
  d.stopping = true;
  listener.close();
  wait_for_connections(d);
  join_fetch(d);
  return device_exit_status(d);
}

}  // namespace qor::sim
