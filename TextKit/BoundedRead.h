// A whole file read into memory, never more than a bound: the stores and the signature check
// read small files that another process could have made large, or could be changing.
//
//   const textkit::ReadResult read = textkit::readAll(fd.get(), kLimit, info.st_size);
//   if (read.status == textkit::ReadStatus::tooLong) ...    // the caller's own error
//
// Blocking; thread-safe (no state). Does not close or seek `fd`.
#pragma once

#include <cstddef>
#include <string>

namespace textkit {

enum class ReadStatus {
  complete,  // bytes holds everything from the offset to the end of the file
  tooLong,   // the file holds more than the limit; bytes holds the first limit + 1 of them
  failed,    // read() failed with `error` (EINTR is retried, never reported)
};

struct ReadResult {
  ReadStatus status = ReadStatus::complete;
  std::string bytes;
  int error = 0;  // errno of a failed read, else 0
};

// Reads `fd` from its offset to its end, through short reads and EINTR. `sizeHint` (the size
// fstat gave, for instance) sizes the first buffer, so that a file that did not change is read
// with one read() and one that returns its end (the first buffer holds at most 1 MiB whatever the
// hint; a larger file grows it). Never holds more than limit + 1 bytes.
ReadResult readAll(int fd, std::size_t limit, std::size_t sizeHint = 0);

}  // namespace textkit
