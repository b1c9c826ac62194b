#include "github-helper/StandardStreams.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "PrivateFiles/WriteAll.h"

namespace pellow {

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

void PosixStandardStreams::writeOutput(std::string_view bytes) {
  // An answer nobody reads any more is not an error of the helper's.
  static_cast<void>(privatefiles::writeAll(STDOUT_FILENO, bytes));
}

void PosixStandardStreams::writeError(std::string_view bytes) {
  static_cast<void>(privatefiles::writeAll(STDERR_FILENO, bytes));
}

}  // namespace pellow
