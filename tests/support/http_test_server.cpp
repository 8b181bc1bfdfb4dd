#include "tests/support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qor::test {

namespace {

constexpr int POLL_STEP_MS = 10;
constexpr std::size_t MAX_REQUEST_BYTES = 65536;

bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

bool send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void abort_connection(int fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

}  // namespace

HttpReply http_page(const std::string& body, const std::string& status, const std::string& extra_headers) {
  HttpReply reply;
  reply.bytes = "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\n" + extra_headers + "\r\n" + body;
  return reply;
}

HttpTestServer::HttpTestServer(std::uint16_t port, std::uint32_t address) : address_(address) {
  default_reply_ = http_page("<html>not found</html>", "404 Not Found");
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  socklen_t len = sizeof sa;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    ::close(fd);
    return;
  }
  listener_ = fd;
  port_ = ntohs(sa.sin_port);
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
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

void HttpTestServer::accept_loop() {
  while (!stopping_.load()) {
    if (!readable(listener_, POLL_STEP_MS)) continue;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) continue;
    HttpRequestRecord record;
    record.peer_address = ntohl(peer.sin_addr.s_addr);
    record.peer_port = ntohs(peer.sin_port);
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

void HttpTestServer::serve(int fd, std::size_t index, HttpRequestRecord record) {
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
      if (!readable(fd, POLL_STEP_MS)) continue;
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
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
  ::close(fd);
}

}  // namespace qor::test
