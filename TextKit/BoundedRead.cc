#include "TextKit/BoundedRead.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace textkit {

ReadResult readAll(int fd, std::size_t limit, std::size_t sizeHint) {
  constexpr std::size_t kFirstBuffer = 4096;
  // The hint sizes the first buffer only up to here: it is what fstat said, not a promise.
  constexpr std::size_t kLargestFirstBuffer = std::size_t{1} << 20;
  // One byte past the expected size, so that the end of the file is seen without growing; the
  // buffer never grows past limit + 1, the byte that proves the file too long.
  const std::size_t cap = limit == static_cast<std::size_t>(-1) ? limit : limit + 1;
  ReadResult result;
  std::string& bytes = result.bytes;
  const std::size_t first = std::clamp(sizeHint, kFirstBuffer - 1, kLargestFirstBuffer - 1);
  bytes.resize(first < cap ? first + 1 : cap);
  std::size_t used = 0;
  while (true) {
    if (used == bytes.size()) {
      if (used == cap) {
        result.status = ReadStatus::tooLong;
        return result;
      }
      bytes.resize(bytes.size() > cap / 2 ? cap : bytes.size() * 2);
    }
    const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      result.status = ReadStatus::failed;
      result.error = errno;
      bytes.resize(used);
      return result;
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  bytes.resize(used);
  return result;
}

}  // namespace textkit
