#include "github-helper/StandardStreams.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace pellow {
namespace {

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string readToEndLimited(int fd, std::size_t limit) {
  std::string kept;
  std::array<char, 16384> chunk{};
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // The writer is read to its end so that it never blocks on a full pipe, but past the limit
    // only one extra byte is kept: enough to tell "too large".
    const std::size_t room = limit + 1 - kept.size();
    kept.append(chunk.data(), std::min(room, static_cast<std::size_t>(n)));
  }
  return kept;
}

std::string PosixStandardStreams::readInput(std::size_t limit) {
  return readToEndLimited(STDIN_FILENO, limit);
}

void PosixStandardStreams::writeOutput(std::string_view bytes) { writeAll(STDOUT_FILENO, bytes); }

void PosixStandardStreams::writeError(std::string_view bytes) { writeAll(STDERR_FILENO, bytes); }

}  // namespace pellow
