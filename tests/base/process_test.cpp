#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "base/process.h"

namespace qor {
namespace {

// end_process must end the whole process from any thread, with the code given and with what was
// printed flushed, while other threads are still busy. Threads that sleep for ever notice the end
// and come through end_process too: the status stays the one of the first end.
TEST(EndProcess, EndsTheProcessFromAWorkerThreadWithOutputFlushed) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    for (int i = 0; i < 8; ++i)
      std::thread([] { sleep_forever(); }).detach();
    std::printf("last words");
    std::thread([] { end_process(3); }).join();
    _exit(99);
  }
  close(fds[1]);
  char buffer[64] = {};
  ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "last words");
}

}  // namespace
}  // namespace qor
