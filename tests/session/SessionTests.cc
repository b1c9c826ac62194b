// The session kit on real files: the environment's rules (absolute paths only, private runtime
// folders), the module loader's refusals, and the trace's file.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "PellowSession/Session.h"
#include "Session/ModuleLoader.h"
#include "Session/Trace.h"
#include "tests/support/TestFiles.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using testkit::TemporaryFolder;

TEST(Session, OnlyAbsolutePathsAndPrivateRuntimeFolders) {
  TemporaryFolder temp;
  const fs::path runtime = temp / "run";
  const fs::path open = temp / "open";
  fs::create_directory(runtime);
  fs::create_directory(open);
  ::chmod(runtime.c_str(), 0700);
  ::chmod(open.c_str(), 0755);
  ::symlink(runtime.c_str(), (temp / "link").c_str());
  const fs::path passwd = Session::passwordDatabaseHome(::getuid());

  struct Row {
    const char* what;
    std::map<std::string, std::string> environment;
    fs::path home, dataHome, runtimeFolder;
  };
  const Row rows[] = {
      {"absolute values",
       {{"HOME", "/h"}, {"XDG_DATA_HOME", "/d"}, {"XDG_RUNTIME_DIR", runtime}},
       "/h",
       "/d",
       runtime},
      {"relative values count as unset",
       {{"HOME", "h"}, {"XDG_DATA_HOME", "d"}, {"XDG_RUNTIME_DIR", "run"}},
       passwd,
       passwd.empty() ? fs::path() : passwd / ".local/share",
       ""},
      {"empty values count as unset",
       {{"HOME", ""}, {"XDG_RUNTIME_DIR", ""}},
       passwd,
       passwd.empty() ? fs::path() : passwd / ".local/share",
       ""},
      {"a runtime folder others may enter",
       {{"HOME", "/h"}, {"XDG_RUNTIME_DIR", open}},
       "/h",
       "/h/.local/share",
       ""},
      {"a runtime folder through a link",
       {{"HOME", "/h"}, {"XDG_RUNTIME_DIR", temp / "link"}},
       "/h",
       "/h/.local/share",
       ""},
  };
  for (const Row& row : rows) {
    const Session session = Session::fromEnvironment(row.environment);
    EXPECT_EQ(session.home, row.home) << row.what;
    EXPECT_EQ(session.dataHome, row.dataHome) << row.what;
    EXPECT_EQ(session.runtimeFolder, row.runtimeFolder) << row.what;
  }
  EXPECT_TRUE(passwd.empty() || passwd.is_absolute()) << passwd;
}

TEST(Session, BusAddressFromTheVariableOrThePrivateRuntimeFolder) {
  TemporaryFolder temp;
  const fs::path runtime = temp / "run";
  fs::create_directory(runtime);
  ::chmod(runtime.c_str(), 0700);
  EXPECT_EQ(Session::fromEnvironment({{"XDG_RUNTIME_DIR", runtime}}).sessionBusAddress, "");
  // A socket named "bus" in the runtime folder is the user's bus.
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string bus = (runtime / "bus").string();
  ASSERT_LT(bus.size(), sizeof(address.sun_path));
  bus.copy(address.sun_path, bus.size());
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_EQ(Session::fromEnvironment({{"XDG_RUNTIME_DIR", runtime}}).sessionBusAddress,
            "unix:path=" + bus);
  EXPECT_EQ(Session::fromEnvironment(
                {{"XDG_RUNTIME_DIR", runtime}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/x"}})
                .sessionBusAddress,
            "unix:path=/x");
  ::chmod(runtime.c_str(), 0750);
  EXPECT_EQ(Session::fromEnvironment({{"XDG_RUNTIME_DIR", runtime}}).sessionBusAddress, "")
      << "a bus in a folder others may enter is not trusted";
  ::close(listener);
}

TEST(ModuleLoader, LoadsOnlyWhatNoOtherAccountCouldHaveWritten) {
  TemporaryFolder temp;
  // Any shared object with a known symbol serves: a copy of the C library's math library would
  // do, but the module of this build is at hand beside the test program.
  const fs::path built = fs::read_symlink("/proc/self/exe").parent_path() / "pellow-net.so";
  ASSERT_TRUE(fs::exists(built)) << built;
  const auto place = [&](const fs::path& folder, mode_t folderMode, mode_t fileMode) {
    fs::create_directories(folder);
    fs::copy_file(built, folder / "pellow-net.so", fs::copy_options::overwrite_existing);
    ::chmod((folder / "pellow-net.so").c_str(), fileMode);
    ::chmod(folder.c_str(), folderMode);
  };
  place(temp / "good", 0755, 0755);
  place(temp / "shared", 01777, 0755);
  place(temp / "groupfile", 0755, 0775);
  fs::create_directories(temp / "linked");
  fs::create_symlink(built, temp / "linked/pellow-net.so");

  struct Row {
    const char* folder;
    std::string reason;  // "" when it loads
  };
  const Row rows[] = {
      {"good", ""},
      {"shared", "is writable by others"},
      {"groupfile", "is writable by others"},
      {"linked", "is a symbolic link"},
      {"missing", "No such file or directory"},
  };
  for (const Row& row : rows) {
    int fd = -1;
    const std::string problem = checkModuleFile(temp / row.folder, "pellow-net.so", ::getuid(), fd);
    if (fd >= 0) ::close(fd);
    if (row.reason.empty()) {
      EXPECT_EQ(problem, "") << row.folder;
    } else {
      EXPECT_NE(problem.find(row.reason), std::string::npos) << row.folder << ": " << problem;
    }
  }
  // A module planted beside the program in a shared folder is passed over for the next one.
  const ModuleEntry entry = loadModuleFrom({temp / "shared", temp / "good"}, "pellow-net.so",
                                           ::getuid(), "pellow_net_module_v1");
  EXPECT_EQ(entry.path, temp / "good/pellow-net.so");
  EXPECT_NE(entry.symbol, nullptr);
  // A second module is its own object, not the first one again under a reused descriptor name.
  const fs::path secret = built.parent_path() / "pellow-secret.so";
  if (fs::exists(secret)) {
    const ModuleEntry second = loadModuleFrom({built.parent_path()}, "pellow-secret.so", ::getuid(),
                                              "pellow_secret_module_v1");
    EXPECT_NE(second.symbol, entry.symbol);
  }
  try {
    loadModuleFrom({temp / "shared"}, "pellow-net.so", ::getuid(), "pellow_net_module_v1");
    ADD_FAILURE() << "a module in a folder others may write was loaded";
  } catch (const ModuleLoadError& error) {
    EXPECT_NE(std::string(error.what()).find(temp.path().string() + "/shared"), std::string::npos)
        << error.what();
  }
}

TEST(Trace, AppendsToAPrivateFileAndNeverThroughALink) {
  TemporaryFolder temp;
  const fs::path file = temp / "trace.log";
  const mode_t saved = ::umask(0);
  Session session;
  session.executable = "/usr/libexec/pellow/github-helper";
  session.trace = file;
  trace::start(session);
  trace::line("store", "first\nline");
  trace::start(session);  // a second run appends
  trace::line("lock", "second");
  trace::stop();
  ::umask(saved);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  const std::string pid = std::to_string(::getpid());
  EXPECT_EQ(testkit::readFile(file), "github-helper[" + pid + "] store: first line\n" +
                                         "github-helper[" + pid + "] lock: second\n");

  // A link planted where the trace should go is not followed; relative and other values trace
  // nothing.
  fs::create_symlink(temp / "elsewhere", temp / "planted");
  for (const std::string& value : {(temp / "planted").string(), std::string("trace.log"),
                                   std::string("yes"), std::string("")}) {
    session.trace = value;
    trace::start(session);
    EXPECT_FALSE(trace::enabled()) << value;
  }
  EXPECT_FALSE(fs::exists(temp / "elsewhere"));
}

}  // namespace
}  // namespace pellow
