// In-memory stand-ins shared by the GitHub-side fuzz targets: standard streams over strings, a
// transport that answers one fixed exchange or fails, and a private scratch folder on tmpfs for
// the credential lock. Nothing here reaches the network or a persistent disk.
//
//   pellow::fuzz::MemoryStreams streams(request);
//   pellow::fuzz::FixedTransport transport(pellow::fuzz::FixedTransport::Mode::notFound);
//   pellow::fuzz::useScratchApplicationSupport();   // once, before any command takes the lock
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "PellowGitHub/GitHubTransport.h"
#include "PellowGitHub/PellowError.h"
#include "github-helper/StandardStreams.h"

namespace pellow::fuzz {

class MemoryStreams final : public StandardStreams {
 public:
  explicit MemoryStreams(std::string_view input) : input_(input) {}

  std::string readInput(std::size_t limit) override {
    return std::string(input_.substr(0, limit + 1));
  }
  void writeOutput(std::string_view bytes) override { output.append(bytes); }
  void writeError(std::string_view bytes) override { error.append(bytes); }

  std::string output;
  std::string error;

 private:
  std::string_view input_;
};

// Answers every request the same way; never touches a socket.
class FixedTransport final : public GitHubTransport {
 public:
  enum class Mode : std::uint8_t { unreachable, okEmptyObject, okUser, notFound, rateLimited };

  explicit FixedTransport(Mode mode) : mode_(mode) {}

  HTTPResult send(const HTTPRequest& request) override {
    ++sent;
    HTTPResult result;
    result.response.url = request.url;
    switch (mode_) {
      case Mode::unreachable:
        throw PellowError("Could not reach GitHub. Check your connection and try again.");
      case Mode::okEmptyObject:
        result.response.statusCode = 200;
        result.body = "{}";
        break;
      case Mode::okUser:
        result.response.statusCode = 200;
        result.body = R"({"id":42,"login":"octocat","full_name":"octocat/hello"})";
        break;
      case Mode::notFound:
        result.response.statusCode = 404;
        result.body = R"({"message":"Not Found"})";
        break;
      case Mode::rateLimited:
        // Without a reset time the message needs no locale formatting.
        result.response.statusCode = 429;
        break;
    }
    return result;
  }

  int sent = 0;

 private:
  Mode mode_;
};

// Points the Application Support folder (and so the credential lock file) at a private folder
// on /dev/shm, removed again when the process exits. Call once from LLVMFuzzerInitialize.
inline void useScratchApplicationSupport() {
  static std::string folder = "/dev/shm/pellow-fuzz-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
  ::setenv("HOME", folder.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
}

}  // namespace pellow::fuzz
