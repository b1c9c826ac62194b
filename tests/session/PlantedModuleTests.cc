// A module planted beside a program is never loaded: github-helper copied into a folder that
// every account may write (as an application in a shared folder), with another account's
// pellow-net.so beside it, asked for something that needs the network module.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

TEST(PlantedModule, ASharedFolderLoadsNoModuleFromBesideTheProgram) {
  testkit::TemporaryFolder temp;
  const fs::path shared = temp / "shared";
  fs::create_directory(shared);
  fs::copy_file(PELLOW_HELPER_PATH, shared / "github-helper");
  fs::copy_file(PELLOW_PLANTED_MODULE, shared / "pellow-net.so");
  ::chmod((shared / "github-helper").c_str(), 0755);
  ::chmod((shared / "pellow-net.so").c_str(), 0755);
  // Another account's file, in a folder that every account may write (the sticky bit does not
  // stop anyone from adding files).
  const bool givenAway = testkit::giveAway(shared / "pellow-net.so");
  ::chmod(shared.c_str(), 01777);
  ::chmod(temp.path().c_str(), 0755);

  const fs::path marker = temp / "planted-ran";
  const fs::path trace = temp / "trace.log";
  const testkit::ProcessResult run =
      testkit::run({(shared / "github-helper").string()},
                   {.environment = {{"HOME", temp.path()},
                                    {"XDG_DATA_HOME", (temp / "data").string()},
                                    {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
                                    {"PELLOW_PLANTED_MARKER", marker.string()},
                                    {"PELLOW_TRACE", trace.string()}},
                    .input = R"({"operation":"begin"})"});
  EXPECT_FALSE(fs::exists(marker)) << "the planted module's constructor ran";
  // The helper still answers (with the installed module, or the network message without one).
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("{\"", 0), 0u) << run.out;
  const std::string written = testkit::readFile(trace);
  const std::string refusal = shared.string() + " is writable by others";
  EXPECT_NE(written.find(refusal), std::string::npos) << written;
  if (!givenAway) GTEST_SKIP() << "the module stayed this user's (giving files away needs root)";
}

}  // namespace
