// A LAN in a box for the TFTP benchmark: relays the datagrams between a client and a TFTP server on
// loopback, holding every one of them for a set time in each direction, as a switched LAN would.
//
//   udp_delay_relay LISTEN_ADDRESS PORT SERVER_ADDRESS SERVER_PORT DELAY_US
//
// The client sends its request to LISTEN_ADDRESS:PORT; the relay passes it on to the server from a
// socket of its own. Each port the server answers from (a server may answer from a new port for each
// transfer, as TFTP allows) gets a relay port of its own on LISTEN_ADDRESS, from which the answers reach
// the client and through which the client's acknowledgements go back to that server port. A new request
// starts afresh. Both addresses must be loopback addresses: nothing leaves the machine.
//
// A datagram leaves DELAY_US after the kernel received it (SO_TIMESTAMPNS), so that the relay's own
// wake-up does not add to the delay: it sleeps until shortly before that moment and waits out the rest
// awake. It runs until it is killed.
//
// It also times both peers: from the moment it passes a datagram to one of them until that peer's next
// datagram reaches the relay is that peer's turn. On SIGUSR1 it prints, for the transfer since the last
// request, "turns: server US client US late US datagrams N": the time spent in the server's and in the
// client's turns and by how much the relay's sends ended after their datagrams were due, in all. The time of
// a transfer less the server's turns is what it would have taken with a server that answers at once, over
// this path and with this client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr std::size_t MAX_DATAGRAM = 2048;
constexpr std::size_t QUEUE_SLOTS = 256;   // lock-step TFTP has one or two datagrams in flight
constexpr std::int64_t AWAKE_NS = 40'000;  // the last part of a delay is waited out awake

volatile std::sig_atomic_t report_asked = 0;

std::int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);  // the clock of SO_TIMESTAMPNS
  return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

bool parse_loopback(const char* text, in_addr& out) {
  return inet_pton(AF_INET, text, &out) == 1 && (ntohl(out.s_addr) >> 24) == 127;
}

int open_socket(in_addr address, std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = address;
  sa.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

struct Held {
  std::int64_t due_ns;
  int out_fd;
  sockaddr_in to;
  std::size_t length;
  unsigned char data[MAX_DATAGRAM];
};

// One relay port per server port: the client talks to `front`, which stands for `server_port`.
struct Route {
  int front;
  std::uint16_t server_port;
};

class Relay {
 public:
  Relay(int listen_fd, int back_fd, in_addr listen_address, sockaddr_in server, std::int64_t delay_ns)
      : listen_fd_(listen_fd),
        back_fd_(back_fd),
        listen_address_(listen_address),
        server_(server),
        delay_ns_(delay_ns),
        queue_(QUEUE_SLOTS) {}

  [[noreturn]] void run() {
    // SIGUSR1 is let in only while the relay waits, so that a report asked for in between is not missed.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, &unblocked_);
    std::vector<pollfd> fds;
    for (;;) {
      send_due();
      fds.clear();
      fds.push_back({listen_fd_, POLLIN, 0});
      fds.push_back({back_fd_, POLLIN, 0});
      for (const Route& r : routes_)
        fds.push_back({r.front, POLLIN, 0});
      timespec timeout{};
      const timespec* wait = nullptr;  // nothing held: sleep until a datagram comes
      if (count_ > 0) {
        std::int64_t left = send_at(queue_[head_]) - now_ns() - AWAKE_NS;
        if (left < 0) left = 0;
        timeout = {static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        wait = &timeout;
      }
      if (ppoll(fds.data(), fds.size(), wait, &unblocked_) < 0 && errno != EINTR) std::perror("ppoll");
      if (report_asked) {
        report_asked = 0;
        std::printf("turns: server %lld client %lld late %lld datagrams %lld\n",
                    static_cast<long long>(server_turns_ / 1000),
                    static_cast<long long>(client_turns_ / 1000), static_cast<long long>(late_ / 1000),
                    static_cast<long long>(datagrams_));
        std::fflush(stdout);
      }
      for (const pollfd& p : fds) {
        if (p.revents & POLLIN) drain(p.fd);
      }
      if (count_ > 0) wait_until(send_at(queue_[head_]));
    }
  }

 private:
  // A send on loopback delivers the datagram and wakes its reader before it returns, which takes a
  // while on a virtual machine (some 15 us): so a datagram is sent that much before it is due.
  std::int64_t send_at(const Held& h) const { return h.due_ns - send_cost_; }

  void wait_until(std::int64_t when) {
    while (now_ns() < when && when - now_ns() <= AWAKE_NS) {
    }
  }

  void send_due() {
    std::int64_t now = now_ns();
    while (count_ > 0 && send_at(queue_[head_]) <= now) {
      const Held& h = queue_[head_];
      sendto(h.out_fd, h.data, h.length, 0, reinterpret_cast<const sockaddr*>(&h.to), sizeof h.to);
      const std::int64_t sent = now_ns();
      send_cost_ += (sent - now - send_cost_) / 16;
      now = sent;
      late_ += sent - h.due_ns;
      ++datagrams_;
      // A turn counts from the end of the send, when the datagram is in: a peer woken on another
      // processor may answer a microsecond or two before the send returns.
      (h.out_fd == back_fd_ ? server_turn_from_ : client_turn_from_) = sent;
      head_ = (head_ + 1) % queue_.size();
      --count_;
    }
  }

  void drain(int fd) {
    for (;;) {
      const bool full = count_ == queue_.size();  // then the datagram is read and dropped, as a LAN would
      Held& h = full ? spare_ : queue_[(head_ + count_) % queue_.size()];
      sockaddr_in from{};
      iovec iov{h.data, sizeof h.data};
      alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec))];
      msghdr msg{};
      msg.msg_name = &from;
      msg.msg_namelen = sizeof from;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
      if (n < 0) return;
      std::int64_t received = now_ns();
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
          timespec ts{};
          std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
          received = std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
        }
      }
      if (!address(fd, from, h) || full) continue;
      std::int64_t& turn_from = fd == back_fd_ ? server_turn_from_ : client_turn_from_;
      if (turn_from != 0) (fd == back_fd_ ? server_turns_ : client_turns_) += received - turn_from;
      turn_from = 0;
      h.due_ns = received + delay_ns_;
      h.length = static_cast<std::size_t>(n);
      ++count_;
    }
  }

  // Where a datagram that came in on `fd` from `from` goes; false to drop it.
  bool address(int fd, const sockaddr_in& from, Held& h) {
    if (fd == listen_fd_) {  // a request from the client: a new transfer
      for (const Route& r : routes_)
        close(r.front);
      routes_.clear();
      server_turns_ = client_turns_ = late_ = datagrams_ = 0;
      server_turn_from_ = client_turn_from_ = 0;
      client_ = from;
      h.out_fd = back_fd_;
      h.to = server_;
      return true;
    }
    if (fd == back_fd_) {  // from the server, to the client through the relay port of the server port
      if (from.sin_addr.s_addr != server_.sin_addr.s_addr || client_.sin_family == 0) return false;
      h.out_fd = front_for(ntohs(from.sin_port));
      h.to = client_;
      return h.out_fd >= 0;
    }
    for (const Route& r : routes_) {  // from the client, to the server port that relay port stands for
      if (r.front != fd) continue;
      h.out_fd = back_fd_;
      h.to = server_;
      h.to.sin_port = htons(r.server_port);
      return true;
    }
    return false;
  }

  int front_for(std::uint16_t server_port) {
    for (const Route& r : routes_) {
      if (r.server_port == server_port) return r.front;
    }
    int fd = open_socket(listen_address_, 0);
    if (fd >= 0) routes_.push_back({fd, server_port});
    return fd;
  }

  const int listen_fd_, back_fd_;
  const in_addr listen_address_;
  const sockaddr_in server_;
  const std::int64_t delay_ns_;
  sockaddr_in client_{};
  std::vector<Route> routes_;
  std::vector<Held> queue_;
  Held spare_{};
  sigset_t unblocked_{};
  // When the relay last passed a datagram to the server or the client (0: its answer is in).
  std::int64_t server_turn_from_ = 0, client_turn_from_ = 0;
  std::int64_t server_turns_ = 0, client_turns_ = 0, late_ = 0, datagrams_ = 0;
  std::int64_t send_cost_ = 0;  // how long a send takes, averaged over the last few
  std::size_t head_ = 0, count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  in_addr listen_address{}, server_address{};
  if (argc != 6 || !parse_loopback(argv[1], listen_address) || !parse_loopback(argv[3], server_address)) {
    std::fprintf(stderr,
                 "usage: %s LISTEN_ADDRESS PORT SERVER_ADDRESS SERVER_PORT DELAY_US (loopback only)\n",
                 argv[0]);
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[2]));
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_addr = server_address;
  server.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[4])));
  const std::int64_t delay_ns = std::atoll(argv[5]) * 1000;

  std::signal(SIGUSR1, [](int) { report_asked = 1; });
  prctl(PR_SET_TIMERSLACK, 1UL);  // wake up when asked, not up to 50 us later
  int listen_fd = open_socket(listen_address, port);
  int back_fd = open_socket(listen_address, 0);
  if (listen_fd < 0 || back_fd < 0) {
    std::perror("bind");
    return 1;
  }
  std::printf("relay %s:%u -> %s:%s, %lld us each way\n", argv[1], static_cast<unsigned>(port), argv[3],
              argv[4], static_cast<long long>(delay_ns / 1000));
  std::fflush(stdout);
  Relay(listen_fd, back_fd, listen_address, server, delay_ns).run();
}
