// The programs' side of the bind helper: where it is, running it, and taking the socket it hands back.
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/bind_helper.h"

namespace qor {

namespace {

constexpr int REPLY_TIMEOUT_MS = 10000;

// Set once the helper has shown it cannot help this process (missing, or itself without the
// privilege): the remaining ports are then not worth a helper each.
std::atomic<bool> helper_unusable{false};

bool starts_with_directory(const char* path, const char* directory) {
  std::size_t n = std::strlen(directory);
  return std::strncmp(path, directory, n) == 0 && path[n] == '/';
}

// The reply: 0 with exactly one descriptor, or an errno without one; -1 for anything else.
int receive_reply(int channel, SocketHandle& out) {
  pollfd p{channel, POLLIN, 0};
  if (::poll(&p, 1, REPLY_TIMEOUT_MS) <= 0) return -1;
  std::int32_t code = -1;
  iovec data{&code, sizeof code};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t n = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  int received = INVALID_SOCKET_HANDLE;
  cmsghdr* c = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
  if (c && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int)))
    std::memcpy(&received, CMSG_DATA(c), sizeof received);
  const bool whole = n == static_cast<ssize_t>(sizeof code) && (message.msg_flags & MSG_CTRUNC) == 0;
  if (whole && code == 0 && received != INVALID_SOCKET_HANDLE) {
    out = received;
    return 0;
  }
  close_socket(received);
  return whole && code > 0 ? code : -1;
}

}  // namespace

bool bind_helper_path(char* out, std::size_t size) {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return false;
  self[n] = '\0';
  char build[PATH_MAX];
  if (::realpath(QOR_BUILD_DIR, build) && starts_with_directory(self, build))
    return std::snprintf(out, size, "%s", QOR_BUILT_BIND_HELPER) < static_cast<int>(size);
  char* slash = std::strrchr(self, '/');
  if (!slash) return false;
  *slash = '\0';
  return std::snprintf(out, size, "%s/%s", self, QOR_BIND_HELPER_FROM_BINDIR) < static_cast<int>(size);
}

int ask_bind_helper(const char* helper, const char* request, SocketHandle& out, int error_fd) {
  out = INVALID_SOCKET_HANDLE;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  // The helper gets its end as descriptor 3 (dup2 clears close-on-exec there), an empty environment
  // and no arguments: nothing of this program's state that it would have to distrust.
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pair[1], BIND_HELPER_CHANNEL);
  if (error_fd != STDERR_FILENO) ::posix_spawn_file_actions_adddup2(&actions, error_fd, STDERR_FILENO);
  char name[] = "qor-bind-helper";
  char* argv[] = {name, nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, helper, &actions, nullptr, argv, envp);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pair[1]);  // so that a helper that ends without a word is seen at once
  int result = -1;
  if (spawned == 0) {
    if (::send(pair[0], request, std::strlen(request), MSG_NOSIGNAL) >= 0)
      result = receive_reply(pair[0], out);
    if (result == -1) ::kill(pid, SIGKILL);  // one that hangs must not hold this program
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(pair[0]);
  return result;
}

bool bind_udp_socket(Socket& sock, std::uint32_t address, std::uint16_t port) {
  if (bind_socket(sock.get(), address, port)) return true;
  if ((errno != EACCES && errno != EPERM) || helper_unusable.load()) return false;
  char helper[PATH_MAX];
  char request[BIND_REQUEST_SIZE];
  format_bind_request(request, sizeof request, {address, port});
  SocketHandle handed = INVALID_SOCKET_HANDLE;
  const int result = bind_helper_path(helper, sizeof helper) ? ask_bind_helper(helper, request, handed) : -1;
  if (result != 0) {
    if (result != EADDRINUSE) helper_unusable.store(true);
    return false;
  }
  Socket bound(handed);
  int type = 0;
  socklen_t length = sizeof type;
  if (::getsockopt(bound.get(), SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM ||
      local_port(bound.get()) != port)
    return false;
  sock = std::move(bound);
  return true;
}

}  // namespace qor
