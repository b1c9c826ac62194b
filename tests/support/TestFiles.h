// Files for tests: a private temporary folder that cleans up after itself, whole-file reads and
// writes, and giving a file to another user.
//
//   testkit::TemporaryFolder folder;                 // e.g. /tmp/pellow-test-Xa81bQ, mode 0700
//   testkit::writeFile(folder / "a/b.json", "{}");   // makes a/ first
//   EXPECT_EQ(testkit::readFile(folder / "a/b.json"), "{}");
//   if (!testkit::giveAway(folder / "a")) GTEST_SKIP() << "giving a file away needs root";
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace testkit {

// A fresh private folder in the system's temporary folder ($TMPDIR or /tmp). The destructor
// removes it with everything in it, also folders a test made unreadable. Throws
// std::runtime_error when it cannot be made.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The bytes of `path`; "" when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Replaces `path` with `bytes` and sets its mode, making the folders above it first. Throws
// std::runtime_error when it cannot.
void writeFile(const std::filesystem::path& path, std::string_view bytes, mode_t mode = 0644);

// Gives `path` (a symbolic link itself, not its target) to the user and group "nobody" (65534).
// False when this process may not, which is the case unless it runs as root.
bool giveAway(const std::filesystem::path& path);

}  // namespace testkit
