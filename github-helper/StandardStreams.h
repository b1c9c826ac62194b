// StandardStreams: the helper's standard input, output and error, behind an interface so that
// the command layer can be driven in memory by tests.
//
//   PosixStandardStreams streams;                     // fds 0, 1, 2
//   std::string request = streams.readInput(65536);   // at most 65,537 bytes kept
//   if (request.size() > 65536) ...                   // too large
//   streams.writeOutput(answer);
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pellow {

class StandardStreams {
 public:
  virtual ~StandardStreams() = default;

  // Reads standard input to its end and returns what arrived, keeping at most `limit` + 1 bytes
  // in memory: a result longer than `limit` means "too large", whatever the real length was.
  // A read error ends the input where it happened.
  virtual std::string readInput(std::size_t limit) = 0;

  // Writes all of `bytes` (in one write where the platform allows). Errors are ignored: there is
  // nowhere left to report them.
  virtual void writeOutput(std::string_view bytes) = 0;
  virtual void writeError(std::string_view bytes) = 0;
};

// File descriptors 0, 1 and 2 of the process.
class PosixStandardStreams final : public StandardStreams {
 public:
  std::string readInput(std::size_t limit) override;
  void writeOutput(std::string_view bytes) override;
  void writeError(std::string_view bytes) override;
};

// Reads `fd` to its end, keeping at most `limit` + 1 bytes (see StandardStreams::readInput).
std::string readToEndLimited(int fd, std::size_t limit);

}  // namespace pellow
