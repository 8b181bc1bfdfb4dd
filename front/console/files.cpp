#include "front/console/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace qor::console {

FileRead read_small_file(const std::string& path, std::size_t limit, std::string& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return FileRead::unreadable;
  text.clear();
  char chunk[4096];
  for (;;) {
    std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    if (text.size() + n > limit) return FileRead::too_large;
    text.append(chunk, n);
    if (n < sizeof chunk) return std::ferror(file.get()) ? FileRead::unreadable : FileRead::read;
  }
}

namespace {

#ifdef _WIN32
constexpr int NEW_FILE_FLAGS = O_WRONLY | O_CREAT | O_EXCL | O_BINARY, NEW_FILE_MODE = _S_IREAD | _S_IWRITE;
#else
constexpr int NEW_FILE_FLAGS = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE = 0666;
#endif

// Creates a new file beside `path` under a name nobody uses; null when none can be made.
std::FILE* create_temporary(const std::string& path, std::string& name) {
  for (int n = 0; n < 100; ++n) {
    name = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(n);
    const int fd = open(name.c_str(), NEW_FILE_FLAGS, NEW_FILE_MODE);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
      close(fd);
      std::remove(name.c_str());
    }
    return file;
  }
  return nullptr;
}

}  // namespace

bool write_whole(const std::string& path, const std::string& text) {
  std::string temporary;
  std::FILE* file = create_temporary(path, temporary);
  if (!file) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = std::fclose(file) == 0 && written;
  std::error_code error;
  if (written) std::filesystem::rename(temporary, path, error);
  if (!written || error) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool can_write_beside(const std::string& path) {
  std::string temporary;
  std::FILE* file = create_temporary(path, temporary);
  if (!file) return false;
  std::fclose(file);
  std::remove(temporary.c_str());
  return true;
}

bool readable_by_others(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
#endif
}

}  // namespace qor::console
