#include "PrivateFiles/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace privatefiles {

std::error_code writeAll(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return {errno, std::generic_category()};
    // Nothing written for a non-empty buffer would repeat forever; report it as the I/O error it
    // stands for.
    if (written == 0) return std::make_error_code(std::errc::io_error);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace privatefiles
