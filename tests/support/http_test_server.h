// A small HTTP server on loopback for tests: it records the raw bytes of every request and answers each
// one with a scripted reply (from a queue, a callback or a default), or misbehaves on purpose: closes
// silently, resets, answers late, trickles its reply, or keeps the connection open.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"

namespace qor::test {

inline constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001;  // 127.0.0.1, host order

// Whether this process may bind ports below 1024 (root or CAP_NET_BIND_SERVICE on Linux).
bool low_ports_allowed();

// Whether a datagram sent from a socket bound to one loopback address leaves from that address. Wine
// sends every loopback datagram from 127.0.0.1; tests of peers told apart by address cannot run there.
bool loopback_sources_kept();
inline constexpr const char* LOOPBACK_SOURCES_LOST =
    "this platform sends every loopback datagram from 127.0.0.1";

struct HttpReply {
  std::string bytes;            // sent as they stand, after the request has been read
  bool close_silently = false;  // close without sending anything
  bool reset = false;           // abort the connection (RST) instead of answering
  int delay_ms = 0;             // wait this long before answering
  std::size_t chunk_size = 0;   // send in pieces of this size (0: one send) ...
  int chunk_delay_ms = 0;       // ... with this pause between them
  bool never_close = false;     // after answering, keep the connection open until release() or stop
  bool read_request = true;     // false: answer at once, without waiting for the request's end
};

// A status line, a Content-Type header and the body, in the device's style (no Content-Length).
HttpReply http_page(const std::string& body, const std::string& status = "200 OK",
                    const std::string& extra_headers = "");

struct HttpRequestRecord {
  std::string bytes;  // everything read up to and including the blank line (or up to the close)
  std::uint32_t peer_address = 0;
  std::uint16_t peer_port = 0;
};

class HttpTestServer {
 public:
  // The callback is asked for the reply of the nth (0-based, in order of acceptance) request.
  using Handler = std::function<HttpReply(const HttpRequestRecord& request, std::size_t index)>;

  // Port 0 takes an ephemeral port. A port below 1024 may fail to bind: check ok().
  explicit HttpTestServer(std::uint16_t port = 0, std::uint32_t address = LOOPBACK_ADDRESS);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  bool ok() const { return listener_ != INVALID_SOCKET_HANDLE; }
  std::uint16_t port() const { return port_; }

  // Replies are taken from the queue in order; the handler, when set, is asked first; when neither
  // gives one, the default reply is sent (a 404 page unless changed).
  void push(HttpReply reply);
  void push(const std::string& bytes);
  void set_handler(Handler handler);
  void set_default(HttpReply reply);

  std::vector<std::string> requests() const;
  std::vector<HttpRequestRecord> records() const;
  std::size_t request_count() const;
  std::size_t connection_count() const;
  // Waits until this many requests have been read (true) or the time is up (false).
  bool wait_for_requests(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  bool wait_for_connections(std::size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // Closes every connection that is being kept open.
  void release();
  // Stops accepting, closes every connection and joins the threads. The destructor calls it.
  void stop();

 private:
  void accept_loop();
  void serve(SocketHandle connection, std::size_t index, HttpRequestRecord record);
  HttpReply reply_for(const HttpRequestRecord& record, std::size_t index);
  bool pause(int ms) const;  // false when the server stops meanwhile

  SocketHandle listener_ = INVALID_SOCKET_HANDLE;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> released_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<HttpReply> queue_;
  Handler handler_;
  HttpReply default_reply_;
  std::vector<HttpRequestRecord> records_;
  std::size_t connections_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

}  // namespace qor::test
