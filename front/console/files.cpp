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

// Creates a new file beside `path` under a name nobody uses; null when none can be made.
std::FILE* create_temporary(const std::string& path, std::string& name) {
#ifdef _WIN32
  const int id = _getpid(), flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
#else
  const int id = getpid(), flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
#endif
  for (int n = 0; n < 100; ++n) {
    name = path + ".tmp-" + std::to_string(id) + "-" + std::to_string(n);
#ifdef _WIN32
    const int fd = _open(name.c_str(), flags, _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(name.c_str(), flags, 0666);
#endif
    if (fd >= 0) {
#ifdef _WIN32
      std::FILE* file = _fdopen(fd, "wb");
      if (!file) _close(fd);
#else
      std::FILE* file = fdopen(fd, "wb");
      if (!file) ::close(fd);
#endif
      if (!file) std::remove(name.c_str());
      return file;
    }
    if (errno != EEXIST) return nullptr;
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
