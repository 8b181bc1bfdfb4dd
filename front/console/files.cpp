#include "front/console/files.h"

#include <sys/stat.h>

#include <cstdio>
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
