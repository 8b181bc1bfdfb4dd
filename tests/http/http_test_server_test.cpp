// The loopback server that the client tests stand on: if it misreports, every other test lies.
#include "tests/support/http_test_server.h"

#include <gtest/gtest.h>

#include <string>

#include "net/socket.h"

namespace qor::test {
namespace {

// Sends `request` on a fresh connection and reads until the server closes.
std::string exchange(std::uint16_t port, const std::string& request) {
  Socket s(open_tcp_socket());
  if (!connect_socket(s.get(), LOOPBACK_ADDRESS, port)) return "<refused>";
  send_bytes(s.get(), request.data(), request.size());
  std::string reply;
  char chunk[1024];
  long n;
  while ((n = receive_bytes(s.get(), chunk, sizeof chunk)) > 0)
    reply.append(chunk, static_cast<std::size_t>(n));
  return reply;
}

TEST(HttpTestServer, AnswersFromQueueThenDefaultAndRecordsRawRequests) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  server.push("first");
  server.push(http_page("body"));
  EXPECT_EQ(exchange(server.port(), "GET /a HTTP/1.1\r\n\r\n"), "first");
  EXPECT_EQ(exchange(server.port(), "GET /b HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\nbody");
  EXPECT_NE(exchange(server.port(), "GET /c HTTP/1.1\r\n\r\n").find("404"), std::string::npos);
  ASSERT_TRUE(server.wait_for_requests(3));
  auto requests = server.requests();
  EXPECT_EQ(requests[0], "GET /a HTTP/1.1\r\n\r\n");
  EXPECT_EQ(requests[2], "GET /c HTTP/1.1\r\n\r\n");
}

TEST(HttpTestServer, HandlerSeesRequestAndIndex) {
  HttpTestServer server;
  server.set_handler([](const HttpRequestRecord& r, std::size_t index) {
    HttpReply reply;
    reply.bytes = std::to_string(index) + ":" + r.bytes.substr(0, 6);
    return reply;
  });
  EXPECT_EQ(exchange(server.port(), "GET /x\r\n\r\n"), "0:GET /x");
  EXPECT_EQ(exchange(server.port(), "GET /y\r\n\r\n"), "1:GET /y");
}

TEST(HttpTestServer, SilentCloseChunksAndHeldConnections) {
  HttpTestServer server;
  HttpReply silent;
  silent.close_silently = true;
  server.push(silent);
  HttpReply trickle;
  trickle.bytes = "abcdefghij";
  trickle.chunk_size = 3;
  trickle.chunk_delay_ms = 5;
  server.push(trickle);
  EXPECT_EQ(exchange(server.port(), "GET / HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(exchange(server.port(), "GET / HTTP/1.1\r\n\r\n"), "abcdefghij");

  HttpReply held;
  held.bytes = "held";
  held.never_close = true;
  server.push(held);
  Socket s(open_tcp_socket());
  ASSERT_TRUE(connect_socket(s.get(), LOOPBACK_ADDRESS, server.port()));
  send_bytes(s.get(), "GET / HTTP/1.1\r\n\r\n", 18);
  char buffer[16] = {};
  EXPECT_EQ(receive_bytes(s.get(), buffer, sizeof buffer), 4);
  EXPECT_FALSE(wait_readable(s.get(), 50));  // still open
  server.release();
  EXPECT_TRUE(wait_readable(s.get(), 5000));
  EXPECT_EQ(receive_bytes(s.get(), buffer, sizeof buffer), 0);
}

TEST(HttpTestServer, StopsWhileAConnectionIsHeld) {
  Socket s(open_tcp_socket());
  {
    HttpTestServer server;
    HttpReply held;
    held.never_close = true;
    held.read_request = false;
    server.set_default(held);
    ASSERT_TRUE(connect_socket(s.get(), LOOPBACK_ADDRESS, server.port()));
    ASSERT_TRUE(server.wait_for_connections(1));
  }
  char buffer[4];
  EXPECT_EQ(receive_bytes(s.get(), buffer, sizeof buffer), 0);
}

}  // namespace
}  // namespace qor::test
