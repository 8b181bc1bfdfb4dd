#include "tests/support/http_test_server.h"

#include <algorithm>
#include <cstring>

#include "net/socket.h"

namespace qor::test {

namespace {

constexpr int POLL_STEP_MS = 10;
constexpr std::size_t MAX_REQUEST_BYTES = 65536;

bool send_all(SocketHandle fd, const char* data, std::size_t size) {
  while (size > 0) {
    long n = send_bytes(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool low_ports_allowed() {
  Socket probe(open_udp_socket());
  return bind_socket(probe.get(), 0x7F0003FF, 1023);  // 127.0.3.255, a port nothing here uses
}

bool loopback_sources_kept() {
  static const bool kept = [] {
    Socket to(open_udp_socket()), from(open_udp_socket());
    if (!bind_socket(to.get(), LOOPBACK_ADDRESS, 0) || !bind_socket(from.get(), 0x7F0003FE, 0)) return false;
    send_datagram(from.get(), "?", 1, {LOOPBACK_ADDRESS, local_port(to.get())});
    char byte;
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    return wait_readable(to.get(), 1000) && receive_datagram(to.get(), &byte, 1, address, port) == 1 &&
           address == 0x7F0003FE;
  }();
  return kept;
}

HttpReply http_page(const std::string& body, const std::string& status, const std::string& extra_headers) {
  HttpReply reply;
  reply.bytes = "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\n" + extra_headers + "\r\n" + body;
  return reply;
}

HttpTestServer::HttpTestServer(std::uint16_t port, std::uint32_t address) {
  default_reply_ = http_page("<html>not found</html>", "404 Not Found");
  Socket listener(open_tcp_socket());
  if (!listener.valid()) return;
  set_reuse_address(listener.get());
  if (!bind_socket(listener.get(), address, port) || !listen_socket(listener.get(), 16)) return;
  port_ = local_port(listener.get());
  if (port_ == 0) return;
  listener_ = listener.release();
  acceptor_ = std::thread([this] { accept_loop(); });
}

HttpTestServer::~HttpTestServer() {
  stop();
}

void HttpTestServer::push(HttpReply reply) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(reply));
}

void HttpTestServer::push(const std::string& bytes) {
  HttpReply reply;
  reply.bytes = bytes;
  push(std::move(reply));
}

void HttpTestServer::set_handler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void HttpTestServer::set_default(HttpReply reply) {
  std::lock_guard lock(mutex_);
  default_reply_ = std::move(reply);
}

std::vector<std::string> HttpTestServer::requests() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& r : records_)
    out.push_back(r.bytes);
  return out;
}

std::vector<HttpRequestRecord> HttpTestServer::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::size_t HttpTestServer::request_count() const {
  std::lock_guard lock(mutex_);
  return records_.size();
}

std::size_t HttpTestServer::connection_count() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool HttpTestServer::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

bool HttpTestServer::wait_for_connections(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return connections_ >= count; });
}

void HttpTestServer::release() {
  released_.store(true);
}

void HttpTestServer::stop() {
  if (stopping_.exchange(true)) return;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& t : workers)
    t.join();
  close_socket(listener_);
  listener_ = INVALID_SOCKET_HANDLE;
}

void HttpTestServer::accept_loop() {
  while (!stopping_.load()) {
    if (!wait_readable(listener_, POLL_STEP_MS)) continue;
    Endpoint peer;
    SocketHandle fd = accept_connection(listener_, peer);
    if (fd == INVALID_SOCKET_HANDLE) continue;
    HttpRequestRecord record;
    record.peer_address = peer.address;
    record.peer_port = peer.port;
    std::lock_guard lock(mutex_);
    std::size_t index = connections_++;
    workers_.emplace_back([this, fd, index, record] { serve(fd, index, record); });
    changed_.notify_all();
  }
}

bool HttpTestServer::pause(int ms) const {
  for (int waited = 0; waited < ms; waited += POLL_STEP_MS) {
    if (stopping_.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(POLL_STEP_MS, ms - waited)));
  }
  return !stopping_.load();
}

HttpReply HttpTestServer::reply_for(const HttpRequestRecord& record, std::size_t index) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
    if (!handler && !queue_.empty()) {
      HttpReply reply = std::move(queue_.front());
      queue_.erase(queue_.begin());
      return reply;
    }
    if (!handler) return default_reply_;
  }
  return handler(record, index);
}

void HttpTestServer::serve(SocketHandle fd, std::size_t index, HttpRequestRecord record) {
  // The reply decides whether the request is waited for, so the queue is looked at first when there is
  // no handler; a handler always sees the whole request.
  bool have_handler;
  {
    std::lock_guard lock(mutex_);
    have_handler = static_cast<bool>(handler_);
  }
  HttpReply reply;
  bool read_request = true;
  if (!have_handler) {
    reply = reply_for(record, index);
    read_request = reply.read_request;
  }
  if (read_request) {
    char chunk[4096];
    while (!stopping_.load() && record.bytes.size() < MAX_REQUEST_BYTES &&
           record.bytes.find("\r\n\r\n") == std::string::npos) {
      if (!wait_readable(fd, POLL_STEP_MS)) continue;
      long n = receive_bytes(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      record.bytes.append(chunk, static_cast<std::size_t>(n));
    }
  }
  {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
    changed_.notify_all();
  }
  if (have_handler) reply = reply_for(record, index);

  if (reply.reset) return abort_connection(fd);
  if (!reply.close_silently && pause(reply.delay_ms)) {
    std::size_t step = reply.chunk_size ? reply.chunk_size : std::max<std::size_t>(reply.bytes.size(), 1);
    for (std::size_t at = 0; at < reply.bytes.size(); at += step) {
      if (at > 0 && !pause(reply.chunk_delay_ms)) break;
      if (!send_all(fd, reply.bytes.data() + at, std::min(step, reply.bytes.size() - at))) break;
    }
    while (reply.never_close && !released_.load() && !stopping_.load())
      pause(POLL_STEP_MS);
  }
  close_socket(fd);
}

}  // namespace qor::test
