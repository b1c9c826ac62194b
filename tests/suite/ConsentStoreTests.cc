#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

bool lockIsFree(const fs::path& lock) {
  const int fd = ::open(lock.c_str(), O_RDWR);
  if (fd < 0) return true;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

bool hasTemporaryFiles(const fs::path& state) {
  if (!fs::exists(state)) return false;
  for (const auto& entry : fs::directory_iterator(state)) {
    if (entry.path().extension() == ".tmp") return true;
  }
  return false;
}

class ConsentStore : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path registry = dir / "registry";
  fs::path state = registry / ".suite-setup";
  fs::path file = state / "consent-v1.json";

  void SetUp() override {
    fs::create_directory(registry);
    ::chmod(registry.c_str(), 0700);
  }

  void store(const std::string& bytes, unsigned mode = 0600) {
    fs::create_directories(state);
    ::chmod(state.c_str(), 0700);
    testkit::writeFile(file, bytes, mode);
  }

  static void enable(VeltraSuiteConsent& record) { record.enabled = true; }
};

TEST_F(ConsentStore, ReadWithoutStateFolderCreatesNothing) {
  EXPECT_EQ(S::read(registry), VeltraSuiteConsent());
  EXPECT_FALSE(fs::exists(state));
  // Not even the registry folder itself needs to exist.
  EXPECT_EQ(S::read(dir / "missing"), VeltraSuiteConsent());
}

TEST_F(ConsentStore, FirstUpdateCreatesPrivateFiles) {
  S::update(registry, enable);
  EXPECT_EQ(modeOf(state), 0700u);
  EXPECT_EQ(modeOf(state / "state.lock"), 0600u);
  EXPECT_EQ(modeOf(file), 0600u);
  VeltraSuiteConsent expected;
  expected.enabled = true;
  EXPECT_EQ(S::read(registry), expected);
  EXPECT_FALSE(hasTemporaryFiles(state));
}

TEST_F(ConsentStore, UnknownKeysAreDroppedByTheNextUpdate) {
  store(R"({"version":1,"enabled":false,"teamId":"K4TQ7WMX2P","blockedPairs":[],"extra":1})");
  S::update(registry, [](VeltraSuiteConsent&) {});
  EXPECT_EQ(testkit::readFile(file).find("extra"), std::string::npos);
}

std::string paddedRecord(std::size_t size) {
  std::string bytes = R"({"version":1,"enabled":true,"teamId":"K4TQ7WMX2P","blockedPairs":[]})";
  bytes.insert(1, size - bytes.size(), ' ');
  return bytes;
}

TEST_F(ConsentStore, SizeLimitIs32768Bytes) {
  store(paddedRecord(32768));
  EXPECT_TRUE(S::read(registry).enabled);
  store(paddedRecord(32769));
  EXPECT_EQ(test::cocoaCode([&] { S::read(registry); }), 257);
}

TEST_F(ConsentStore, EmptyFileIsADecodingError) {
  store("");
  EXPECT_THROW(S::read(registry), DecodingError);
}

TEST_F(ConsentStore, CorruptContentIsRefused) {
  store(R"({"version":2,"enabled":true,"teamId":"K4TQ7WMX2P","blockedPairs":[]})");
  EXPECT_EQ(test::cocoaCode([&] { S::read(registry); }), 259);
  EXPECT_EQ(test::cocoaCode([&] { S::update(registry, enable); }), 259);
  store(R"({"version":1,"enabled":true,"teamId":"Z9ZZZZZZZ9","blockedPairs":[]})");
  EXPECT_EQ(test::cocoaCode([&] { S::read(registry); }), 259);
  store("{}");
  EXPECT_THROW(S::read(registry), DecodingError);
  EXPECT_THROW(S::update(registry, enable), DecodingError);
  EXPECT_EQ(testkit::readFile(file), "{}") << "a refused file is never replaced";
  EXPECT_FALSE(hasTemporaryFiles(state));
  EXPECT_TRUE(lockIsFree(state / "state.lock"));
}

// Each case makes the store unsafe in one way; read and update must both refuse with 257.
struct UnsafeCase {
  const char* name;
  std::function<void(const fs::path& dir, const fs::path& registry)> spoil;
};
void PrintTo(const UnsafeCase& c, std::ostream* out) { *out << c.name; }

class UnsafeStore : public ConsentStore, public testing::WithParamInterface<UnsafeCase> {};

TEST_P(UnsafeStore, ReadAndUpdateRefuseWith257) {
  S::update(registry, [](VeltraSuiteConsent&) {});
  const std::string before = testkit::readFile(file);
  GetParam().spoil(dir.path(), registry);
  if (IsSkipped()) return;
  EXPECT_EQ(test::cocoaCode([&] { S::read(registry); }), 257);
  EXPECT_EQ(test::cocoaCode([&] { S::update(registry, enable); }), 257);
  EXPECT_FALSE(hasTemporaryFiles(state));
  EXPECT_TRUE(lockIsFree(state / "state.lock"));
  struct stat info {};
  if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    EXPECT_EQ(testkit::readFile(file), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnsafeStore,
    testing::Values(UnsafeCase{"FileMode0644",
                               [](const fs::path&, const fs::path& r) {
                                 ::chmod((r / ".suite-setup/consent-v1.json").c_str(), 0644);
                               }},
                    UnsafeCase{"FileOfAnotherUser",
                               [](const fs::path&, const fs::path& r) {
                                 if (!testkit::giveAway(r / ".suite-setup/consent-v1.json")) {
                                   GTEST_SKIP() << "giving a file to another user needs root";
                                 }
                               }},
                    UnsafeCase{"FileIsSymlink",
                               [](const fs::path& d, const fs::path& r) {
                                 fs::rename(r / ".suite-setup/consent-v1.json", d / "real.json");
                                 fs::create_symlink(d / "real.json",
                                                    r / ".suite-setup/consent-v1.json");
                               }},
                    UnsafeCase{"FileIsFolder",
                               [](const fs::path&, const fs::path& r) {
                                 fs::remove(r / ".suite-setup/consent-v1.json");
                                 fs::create_directory(r / ".suite-setup/consent-v1.json");
                                 ::chmod((r / ".suite-setup/consent-v1.json").c_str(), 0700);
                               }},
                    UnsafeCase{"StateFolderIsSymlink",
                               [](const fs::path& d, const fs::path& r) {
                                 fs::rename(r / ".suite-setup", d / "elsewhere");
                                 fs::create_symlink(d / "elsewhere", r / ".suite-setup");
                               }},
                    UnsafeCase{"StateFolderMode0755",
                               [](const fs::path&, const fs::path& r) {
                                 ::chmod((r / ".suite-setup").c_str(), 0755);
                               }},
                    UnsafeCase{
                        "RegistryOpenToGroup",
                        [](const fs::path&, const fs::path& r) { ::chmod(r.c_str(), 0750); }},
                    UnsafeCase{"RegistryIsSymlink",
                               [](const fs::path& d, const fs::path& r) {
                                 fs::rename(r, d / "real-registry");
                                 fs::create_symlink(d / "real-registry", r);
                               }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ConsentStore, ParentSymlinkAboveTheRegistryIsRefused) {
  fs::create_directories(dir / "real" / "inner");
  ::chmod((dir / "real" / "inner").c_str(), 0700);
  fs::create_symlink(dir / "real", dir / "link");
  const fs::path linked = dir / "link" / "inner";
  EXPECT_EQ(test::cocoaCode([&] { S::update(linked, enable); }), 257);
  EXPECT_FALSE(fs::exists(dir / "real" / "inner" / ".suite-setup"));
  EXPECT_EQ(test::cocoaCode([&] { S::checkPrivatePath(linked, true); }), 257);
  // Once the store exists behind the link, reading through the link is refused as well.
  S::update(dir / "real" / "inner", enable);
  EXPECT_EQ(test::cocoaCode([&] { S::read(linked); }), 257);
}

TEST_F(ConsentStore, LockFileSymlinkIs513) {
  S::update(registry, [](VeltraSuiteConsent&) {});
  fs::remove(state / "state.lock");
  testkit::writeFile(dir / "lock-target", "", 0600);
  fs::create_symlink(dir / "lock-target", state / "state.lock");
  EXPECT_EQ(test::cocoaCode([&] { S::update(registry, enable); }), 513);
  EXPECT_FALSE(S::read(registry).enabled);
}

TEST_F(ConsentStore, UpdateRefusesAFileTheReaderWouldRefuse) {
  S::update(registry, [](VeltraSuiteConsent& r) { r.blockedPairs = {"keep|me"}; });
  const std::string before = testkit::readFile(file);
  EXPECT_EQ(test::cocoaCode([&] {
              S::update(registry, [](VeltraSuiteConsent& r) {
                for (int i = 0; i < 2000; ++i)
                  r.blockedPairs.push_back("com.example." + std::to_string(i) + "|x");
              });
            }),
            512);
  EXPECT_EQ(testkit::readFile(file), before);
  EXPECT_FALSE(hasTemporaryFiles(state));
  EXPECT_TRUE(lockIsFree(state / "state.lock"));
  // The store stays usable.
  S::block("a", "b", registry);
  EXPECT_TRUE(S::isBlocked("a", "b", registry));
}

TEST_F(ConsentStore, GrowingRecordStopsAtTheLimitAndStaysReadable) {
  // Block pair after pair until the store refuses: every write that succeeded must read back.
  int refusedAt = -1;
  for (int i = 0; i < 1000 && refusedAt < 0; ++i) {
    try {
      S::block("com.example.app" + std::to_string(i), "com.example.peer", registry);
    } catch (const std::system_error& error) {
      EXPECT_EQ(error.code(), CocoaError::fileWriteUnknown);
      refusedAt = i;
    }
  }
  ASSERT_GT(refusedAt, 0);
  EXPECT_LE(fs::file_size(file), S::kMaxConsentFileSize);
  EXPECT_GT(fs::file_size(file), S::kMaxConsentFileSize - 200);
  EXPECT_NO_THROW(S::read(registry));
  EXPECT_FALSE(
      S::isBlocked("com.example.app" + std::to_string(refusedAt), "com.example.peer", registry));
}

TEST_F(ConsentStore, CheckPrivatePathKinds) {
  testkit::writeFile(dir / "f", "x", 0600);
  EXPECT_EQ(test::cocoaCode([&] { S::checkPrivatePath(dir / "f", false); }), 0);
  EXPECT_EQ(test::cocoaCode([&] { S::checkPrivatePath(dir / "f", true); }), 257);
  EXPECT_EQ(test::cocoaCode([&] { S::checkPrivatePath(registry, false); }), 257);
  EXPECT_EQ(test::cocoaCode([&] { S::checkPrivatePath(dir / "none", true); }), 257);
}

}  // namespace
}  // namespace veltra
