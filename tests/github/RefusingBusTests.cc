// A session bus address where something answers but refuses this client is still the user's
// bus: the Keychain message, never "no bus" and the file store. Only nothing listening there (no
// socket, or a socket nobody accepts on) means there is no bus. Refusing buses: small Unix
// sockets that close at once, reject the authentication or never accept (a full listen queue),
// and a real dbus-daemon at its max_connections_per_user.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PrivateFiles/UniqueFd.h"
#include "tests/github/HelperWithFakeGitHub.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using privatefiles::UniqueFd;

enum class Refusal { missing, refused, closesAtOnce, rejectsAuthentication, fullQueue };

UniqueFd unixSocket() { return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

sockaddr_un addressOf(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.native().copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

// A Unix socket at `path` that behaves as `refusal` says, served by a thread of its own until
// the object goes away.
class RefusingSocket {
 public:
  RefusingSocket(const fs::path& path, Refusal refusal) {
    if (refusal == Refusal::missing) return;
    listener_ = unixSocket();
    const sockaddr_un address = addressOf(path);
    if (::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 0) != 0) {
      throw std::runtime_error("cannot listen at " + path.string());
    }
    switch (refusal) {
      case Refusal::refused:
        listener_.reset();  // the socket file stays; connecting is refused
        break;
      case Refusal::fullQueue:
        // Connections that are never accepted fill the queue until the next one would block.
        for (int i = 0; i < 64; ++i) {
          UniqueFd waiting(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
          if (::connect(waiting.get(), reinterpret_cast<const sockaddr*>(&address),
                        sizeof address) != 0) {
            break;
          }
          queued_.push_back(std::move(waiting));
        }
        break;
      default:
        server_ = std::jthread([this, refusal](std::stop_token stop) { serve(stop, refusal); });
    }
  }

 private:
  void serve(const std::stop_token& stop, Refusal refusal) {
    while (!stop.stop_requested()) {
      pollfd ready{listener_.get(), POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      const UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!client || refusal == Refusal::closesAtOnce) continue;
      // Every line of the client's authentication gets the answer of a bus that accepts no
      // mechanism it offers; the client gives up and closes.
      char buffer[512];
      for (int lines = 0; lines < 8; ++lines) {
        pollfd readable{client.get(), POLLIN, 0};
        if (::poll(&readable, 1, 2000) <= 0 || ::read(client.get(), buffer, sizeof buffer) <= 0) {
          break;
        }
        constexpr std::string_view kRejected = "REJECTED EXTERNAL\r\n";
        if (::send(client.get(), kRejected.data(), kRejected.size(), MSG_NOSIGNAL) < 0) break;
      }
    }
  }

  UniqueFd listener_;
  std::vector<UniqueFd> queued_;
  std::jthread server_;  // last: stops before the listener closes
};

// A dbus-daemon that takes at most one connection of this user, and that one connection held
// open, so that every further client is refused with LimitsExceeded.
class BusAtItsLimit {
 public:
  BusAtItsLimit() {
    std::ofstream(folder_ / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path="
        << (folder_ / "bus").string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\"/><allow own=\"*\"/></policy>"
           "<limit name=\"max_connections_per_user\">1</limit></busconfig>\n";
    daemon_.emplace(
        std::vector<std::string>{"dbus-daemon", "--nofork", "--config-file",
                                 (folder_ / "bus.conf").string(), "--print-address"},
        testkit::ProcessOptions{.keepInputOpen = true, .errorLog = folder_ / "daemon.log"});
    address_ = daemon_->readLine(std::chrono::seconds(10));
    // The monitor shows the bus's greeting once its connection counts against the limit (on a
    // terminal: into a pipe it would keep it buffered).
    holder_.emplace(std::vector<std::string>{"dbus-monitor", "--address", address_},
                    testkit::ProcessOptions{.terminal = true});
    holder_->waitForTerminal("NameAcquired");
  }

  const std::string& address() const { return address_; }
  // Whether another client is now refused, asked with a program of the bus's own.
  bool full() const {
    const testkit::ProcessResult probe = testkit::run(
        {"gdbus", "call", "--address", address_, "--dest", "org.freedesktop.DBus", "--object-path",
         "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetId"},
        {}, std::chrono::seconds(10));
    return probe.err.find("LimitsExceeded") != std::string::npos;
  }

 private:
  testkit::TemporaryFolder folder_;
  std::optional<testkit::ChildProcess> daemon_;
  std::optional<testkit::ChildProcess> holder_;  // gone before the daemon
  std::string address_;
};

bool dbusDaemonAvailable() {
  return testkit::run({"/bin/sh", "-c", "command -v dbus-daemon dbus-monitor gdbus"}).status == 0;
}

// What connecting in a fresh process (GLib keeps per-process bus state) makes of `address`: 0
// no backend, 1 a backend that answers interactionNotAllowed, 2 anything else.
int connectOutcome(const std::string& address) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    const std::unique_ptr<SecretServiceKeychainBackend> backend =
        SecretServiceKeychainBackend::connect();
    if (!backend) ::_exit(0);
    std::optional<std::string> data;
    const KeychainStatus status =
        backend->copyData({std::string(config::kKeychainService), "github-app"}, data);
    ::_exit(status == KeychainStatus::interactionNotAllowed ? 1 : 2);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// What connecting makes of each address: no backend (the file store) only where nothing listens.
TEST(RefusingBusTest, OnlyNothingListeningMeansNoBus) {
  testkit::TemporaryFolder folder;
  const struct {
    const char* name;
    Refusal refusal;
    int outcome;
  } rows[] = {
      {"no socket file", Refusal::missing, 0},
      {"connection refused", Refusal::refused, 0},
      {"closed at once", Refusal::closesAtOnce, 1},
      {"authentication rejected", Refusal::rejectsAuthentication, 1},
      {"full listen queue", Refusal::fullQueue, 1},
  };
  int index = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path path = folder / ("bus" + std::to_string(index++));
    const RefusingSocket socket(path, row.refusal);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(connectOutcome("unix:path=" + path.string()), row.outcome);
    EXPECT_LT(std::chrono::steady_clock::now() - started,
              kSecretServiceBudget + std::chrono::seconds(2));
  }
  if (!dbusDaemonAvailable()) GTEST_SKIP() << "needs dbus-daemon, dbus-monitor and gdbus";
  BusAtItsLimit bus;
  ASSERT_TRUE(bus.full());
  EXPECT_EQ(connectOutcome(bus.address()), 1) << "a bus at its connection limit";
}

// The helper as git and the app run it, on a dbus-daemon that refuses it for its connection
// limit: every command that needs the store gives the Keychain message, and nothing is written
// beside the keyring.
TEST(RefusingBusTest, HelperOnABusAtItsLimitGivesTheKeychainMessage) {
  if (!dbusDaemonAvailable()) GTEST_SKIP() << "needs dbus-daemon, dbus-monitor and gdbus";
  BusAtItsLimit bus;
  ASSERT_TRUE(bus.full());
  testkit::TemporaryFolder home;
  const testing::EnvironmentChanges environment{{"HOME", home.path().string()},
                                                {"XDG_DATA_HOME", (home / "data").string()},
                                                {"DBUS_SESSION_BUS_ADDRESS", bus.address()}};
  const std::string keychainError = R"({"error":")" + std::string(kKeychainMessage) + "\"}";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string input;
  } rows[] = {
      {"status", {}, R"({"operation":"status"})"},
      {"save",
       {},
       R"({"operation":"save","credential":{"accessToken":"ghu_split","accountID":4242,)"
       R"("login":"octocat"}})"},
      {"git get",
       {"credential", "4242", "get"},
       "protocol=https\nhost=" + std::string(config::webHost()) + "\npath=o/n\n"},
      {"disconnect", {}, R"({"operation":"disconnect"})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const testing::HelperRun run = testing::runHelper(row.arguments, row.input, environment);
    if (row.arguments.empty()) {
      EXPECT_EQ(run.out, keychainError) << run.err;
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "Pellow GitHub: " + std::string(kKeychainMessage) + "\n");
    }
  }
  EXPECT_FALSE(fs::exists(home / "data/PellowGitHub/Keychain")) << "a silent file store";
}

}  // namespace
}  // namespace pellow
