// qor-bind-helper: the one file that carries CAP_NET_BIND_SERVICE. Whoever runs it chooses its
// environment, its descriptors, its signal state and its request, so it takes none of them on trust:
// it clears the environment, keeps only the standard streams and its channel, puts every signal back
// to its default, grants only a UDP port from 69 to 168 on an address of this machine, gives up its
// capabilities as soon as the bind is done and ends (net/bind_helper.h has the exchange).
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/bind_helper.h"

namespace {

constexpr int REQUEST_TIMEOUT_MS = 5000;

void drop_capabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  ::syscall(SYS_capset, &header, data);
}

// The capability goes before a word is written: standard error is whatever the caller made it, and may
// block. Standard error is unbuffered; _exit leaves out whatever the caller's exit handlers would do.
[[noreturn]] void end(int status, const char* format, ...) {
  drop_capabilities();
  std::fputs("qor-bind-helper: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  ::_exit(status);
}

// Descriptors 0 to 2 open (on /dev/null where the caller closed them), so that no socket of ours
// can become "standard error"; everything above the channel closed.
void settle_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) != fd) ::_exit(qor::BIND_HELPER_BROKEN);
  }
  if (::syscall(SYS_close_range, qor::BIND_HELPER_CHANNEL + 1, ~0U, 0) != 0) {
    for (long fd = qor::BIND_HELPER_CHANNEL + 1, top = ::sysconf(_SC_OPEN_MAX); fd < top; ++fd)
      ::close(static_cast<int>(fd));
  }
}

// Ignored signals and the blocked mask survive exec; handlers do not.
void default_signals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal)
    ::sigaction(signal, &action, nullptr);  // SIGKILL, SIGSTOP and the C library's own refuse: fine
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void reply(int code, int sock) {
  std::int32_t value = code;
  iovec data{&value, sizeof value};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (sock >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &sock, sizeof sock);
  }
  if (::sendmsg(qor::BIND_HELPER_CHANNEL, &message, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof value))
    end(qor::BIND_HELPER_BROKEN, "could not answer: %s", std::strerror(errno));
}

}  // namespace

int main(int argc, char**) {
  ::clearenv();
  // The unused arguments must be 0, or the kernel refuses the call.
  ::prctl(PR_SET_DUMPABLE, 0UL, 0UL, 0UL, 0UL);  // no core file and no tracer, also when root runs it
  ::prctl(PR_SET_NO_NEW_PRIVS, 1UL, 0UL, 0UL, 0UL);
  default_signals();
  settle_descriptors();
  if (argc > 1) end(qor::BIND_HELPER_REFUSED, "takes no arguments; the programs of qor-upgrade run it");

  int domain = 0;
  socklen_t length = sizeof domain;
  if (::getsockopt(qor::BIND_HELPER_CHANNEL, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 ||
      domain != AF_UNIX)
    end(qor::BIND_HELPER_BROKEN, "descriptor %d is not the socket pair of the program that runs it",
        qor::BIND_HELPER_CHANNEL);
  pollfd p{qor::BIND_HELPER_CHANNEL, POLLIN, 0};
  if (::poll(&p, 1, REQUEST_TIMEOUT_MS) <= 0) end(qor::BIND_HELPER_BROKEN, "no request came");
  char text[qor::BIND_REQUEST_SIZE];
  ssize_t n = ::recv(qor::BIND_HELPER_CHANNEL, text, sizeof text, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0) end(qor::BIND_HELPER_BROKEN, "no request came: %s", std::strerror(errno));

  qor::BindRequest request;
  char reason[96];
  if (!qor::check_bind_request(text, static_cast<std::size_t>(n), request, reason, sizeof reason))
    end(qor::BIND_HELPER_REFUSED, "refused: %s", reason);
  char shown[qor::BIND_REQUEST_SIZE];
  qor::format_bind_request(shown, sizeof shown, request);

  qor::Socket sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const bool bound = sock.valid() && qor::bind_socket(sock.get(), request.address, request.port);
  const int error = errno;
  drop_capabilities();
  if (!bound) {
    reply(error, -1);
    end(qor::BIND_HELPER_BIND_FAILED, "could not bind %s: %s", shown, std::strerror(error));
  }
  reply(0, sock.get());
  ::_exit(qor::BIND_HELPER_BOUND);
}
