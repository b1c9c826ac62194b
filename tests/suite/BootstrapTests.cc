#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/VeltraSuiteBootstrap.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/PlatformFakes.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

std::size_t threadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++count;
  return count;
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds limit = 5000ms) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (predicate()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return predicate();
}

// Everything a loop uses, kept alive by the reconcile call that the loop holds, so that a loop
// outliving its test never touches freed memory.
struct World {
  testkit::TemporaryFolder dir;
  test::FakePlatform fake;
  std::mutex mutex;
  std::vector<std::pair<Clock::time_point, Clock::time_point>> calls;  // start, end
  std::vector<std::thread::id> threads;
  std::chrono::milliseconds reconcileTakes{0};
  std::atomic<int> begun{0};  // calls that have begun, counted on entry

  World() {
    fake.mainBundle.identifier = kSorel;
    fake.mainBundle.url = "/builds/Sorel.app";
    fake.verifier.add("/builds/Sorel.app", kSorel);
    fake.verifier.add("/builds/Pellow.app", kPellow);
  }
  fs::path registry() const { return dir.path(); }
  std::size_t callCount() {
    const std::lock_guard lock(mutex);
    return calls.size();
  }
};

VeltraSuiteBootstrap::Reconcile recorder(const std::shared_ptr<World>& world) {
  return [world] {
    ++world->begun;
    const auto start = Clock::now();
    std::this_thread::sleep_for(world->reconcileTakes);
    const std::lock_guard lock(world->mutex);
    world->calls.emplace_back(start, Clock::now());
    world->threads.push_back(std::this_thread::get_id());
  };
}

class Bootstrap : public testing::Test {
 protected:
  std::shared_ptr<World> world = std::make_shared<World>();
  std::shared_ptr<VeltraSuiteBootstrap> make(std::chrono::milliseconds cycle,
                                             VeltraSuiteBootstrap::Executor executor = {}) {
    return VeltraSuiteBootstrap::create(std::move(executor), world->fake.platform, cycle);
  }
  void permit() { S::approvePair(kSorel, kPellow, world->registry()); }
  // A loop's thread lets go of the world, and so of its folder, just after the loop has ended.
  void TearDown() override {
    EXPECT_TRUE(eventually([&] { return world.use_count() == 1; }));
  }
};

struct RefusalCase {
  const char* name;
  std::optional<std::string> identifier;
  bool verified;
};
void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class BootstrapRefusal : public Bootstrap, public testing::WithParamInterface<RefusalCase> {};

TEST_P(BootstrapRefusal, StartsNoThread) {
  permit();
  world->fake.mainBundle.identifier = GetParam().identifier;
  if (!GetParam().verified) world->fake.verifier.genuine.erase({"/builds/Sorel.app", kSorel});
  const std::size_t before = threadCount();
  auto bootstrap = make(20ms);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  EXPECT_FALSE(bootstrap->isRunning());
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(threadCount(), before);
  EXPECT_EQ(world->callCount(), 0u);
  bootstrap->stop();
  EXPECT_FALSE(bootstrap->isRunning());
}

INSTANTIATE_TEST_SUITE_P(Cases, BootstrapRefusal,
                         testing::Values(RefusalCase{"OtherBundleId", std::string(kPellow), true},
                                         RefusalCase{"NoBundleId", std::nullopt, true},
                                         RefusalCase{"NotVerified", std::string(kSorel), false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Bootstrap, StartTwiceRunsOneLoop) {
  permit();
  auto bootstrap = make(50ms);
  std::atomic<int> secondCalls{0};
  bootstrap->start(kSorel, world->registry(), recorder(world));
  const std::size_t withOneLoop = threadCount();
  bootstrap->start(kSorel, world->registry(), [&secondCalls] { ++secondCalls; });
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(threadCount(), withOneLoop);
  EXPECT_TRUE(eventually([&] { return world->callCount() >= 3; }));
  EXPECT_EQ(secondCalls.load(), 0);
  bootstrap->stop();
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
}

TEST_F(Bootstrap, CallsRightAwayThenOncePerCycleAfterTheLastReturn) {
  permit();
  world->reconcileTakes = 100ms;
  auto bootstrap = make(300ms);
  const auto started = Clock::now();
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->callCount() >= 4; }, 10s));
  bootstrap->stop();
  ASSERT_TRUE(bootstrap->waitForLoopEnd(5s));
  const std::lock_guard lock(world->mutex);
  EXPECT_LT(world->calls[0].first - started, 1s) << "first call right after start";
  for (std::size_t i = 1; i < world->calls.size(); ++i) {
    const auto gap = world->calls[i].first - world->calls[i - 1].second;
    EXPECT_GE(gap, 290ms) << "cycle " << i;
    EXPECT_LT(gap, 1500ms) << "cycle " << i;
  }
}

TEST_F(Bootstrap, NothingPermittedOrUnreadableMeansNoCallUntilRepaired) {
  auto bootstrap = make(50ms);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(world->callCount(), 0u) << "no permitted pair";

  S::prepareStateFolder(world->registry());
  testkit::writeFile(world->registry() / ".suite-setup/consent-v1.json", "not json", 0600);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(world->callCount(), 0u) << "unreadable file";
  EXPECT_TRUE(world->fake.alerts.shown.empty());

  fs::remove(world->registry() / ".suite-setup/consent-v1.json");
  permit();
  EXPECT_TRUE(eventually([&] { return world->callCount() >= 1; }));
  bootstrap->stop();
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
}

TEST_F(Bootstrap, StopDuringTheSleepEndsAtOnce) {
  permit();
  auto bootstrap = make(std::chrono::milliseconds(60s));
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->callCount() == 1; }));
  const auto stopped = Clock::now();
  bootstrap->stop();
  EXPECT_FALSE(bootstrap->isRunning());
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
  EXPECT_LT(Clock::now() - stopped, 2s);
  EXPECT_EQ(world->callCount(), 1u);
}

TEST_F(Bootstrap, StopThenStartMakesANewLoop) {
  permit();
  auto bootstrap = make(std::chrono::milliseconds(60s));
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->callCount() == 1; }));
  bootstrap->stop();
  ASSERT_TRUE(bootstrap->waitForLoopEnd(5s));
  bootstrap->start(kSorel, world->registry(), recorder(world));
  EXPECT_TRUE(eventually([&] { return world->callCount() == 2; }));
  bootstrap->stop();
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
}

TEST_F(Bootstrap, DroppingTheLastOwnerEndsTheLoopAtItsNextCycle) {
  permit();
  // A sanitizer runtime may start a thread of its own with the first thread of the process.
  std::thread([] {}).join();
  const std::size_t before = threadCount();
  auto bootstrap = make(300ms);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->callCount() == 1; }));
  bootstrap.reset();  // during the first sleep
  EXPECT_TRUE(eventually([&] { return threadCount() == before; }, 5s));
  EXPECT_EQ(world->callCount(), 1u);
}

TEST_F(Bootstrap, ExecutorRunsReconcile) {
  permit();
  // A stand-in for a GUI main loop: one thread that runs posted calls in order.
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::function<void()>> queue;
  bool quit = false;
  std::thread mainLoop([&] {
    std::unique_lock lock(mutex);
    while (!quit) {
      changed.wait(lock, [&] { return quit || !queue.empty(); });
      while (!queue.empty()) {
        auto call = std::move(queue.front());
        queue.erase(queue.begin());
        lock.unlock();
        call();
        lock.lock();
      }
    }
  });
  auto postAndWait = [&](const std::function<void()>& call) {
    auto done = std::make_shared<std::promise<void>>();
    {
      const std::lock_guard lock(mutex);
      queue.push_back([call, done] {
        call();
        done->set_value();
      });
    }
    changed.notify_all();
    done->get_future().wait();
  };
  auto bootstrap = make(50ms, postAndWait);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->callCount() >= 2; }));
  bootstrap->stop();
  ASSERT_TRUE(bootstrap->waitForLoopEnd(5s));
  {
    const std::lock_guard lock(mutex);
    quit = true;
  }
  changed.notify_all();
  const auto mainId = mainLoop.get_id();
  mainLoop.join();
  const std::lock_guard lock(world->mutex);
  for (const auto& id : world->threads) EXPECT_EQ(id, mainId);
}

// A bootstrap that nothing owns through a shared_ptr would have no loop to hold it weakly: the
// only way to make one is create().
static_assert(!std::is_constructible_v<VeltraSuiteBootstrap>);
static_assert(!std::is_constructible_v<VeltraSuiteBootstrap, VeltraSuiteBootstrap::Executor,
                                       VeltraPlatform&, std::chrono::nanoseconds>);

// Lets a test hold the loop inside its scan: the first check on the loop's thread waits there
// until released.
struct ScanGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool released = false;

  void enterAndWait() {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  }
  bool waitEntered(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return entered; });
  }
  void release() {
    const std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

TEST_F(Bootstrap, StopDuringAScanMeansNoReconcileAfterIt) {
  permit();
  auto gate = std::make_shared<ScanGate>();
  const auto testThread = std::this_thread::get_id();
  world->fake.verifier.whileVerifying = [gate, testThread] {
    if (std::this_thread::get_id() != testThread) gate->enterAndWait();
  };
  auto bootstrap = make(20ms);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(gate->waitEntered(5s));
  bootstrap->stop();
  gate->release();
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
  EXPECT_EQ(world->begun.load(), 0);
}

// The call is handed to an executor that runs it later (as a GUI main loop would, after other
// events); stop() comes in between.
TEST_F(Bootstrap, ACallQueuedInTheExecutorDoesNotRunAfterStop) {
  permit();
  std::promise<void> handedOver;
  std::promise<void> stopped;
  auto executor = [&,
                   once = std::make_shared<std::once_flag>()](const std::function<void()>& call) {
    std::call_once(*once, [&] {
      handedOver.set_value();
      stopped.get_future().wait();
    });
    call();
  };
  auto bootstrap = make(20ms, executor);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_EQ(handedOver.get_future().wait_for(5s), std::future_status::ready);
  bootstrap->stop();
  stopped.set_value();
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
  EXPECT_EQ(world->begun.load(), 0);
}

TEST_F(Bootstrap, StopThenStartAtOnceNeverOverlapsCalls) {
  permit();
  world->reconcileTakes = 300ms;
  auto bootstrap = make(20ms);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->begun.load() == 1; }));
  bootstrap->stop();  // while the first call runs
  bootstrap->start(kSorel, world->registry(), recorder(world));
  ASSERT_TRUE(eventually([&] { return world->callCount() >= 3; }, 10s));
  bootstrap->stop();
  ASSERT_TRUE(bootstrap->waitForLoopEnd(5s));
  const std::lock_guard lock(world->mutex);
  for (std::size_t i = 1; i < world->calls.size(); ++i) {
    EXPECT_GE(world->calls[i].first, world->calls[i - 1].second) << "call " << i << " overlaps";
  }
}

// Out of descriptors when the loop wants its timer: it keeps cycling at its pace instead of
// ending while isRunning() says it runs.
TEST_F(Bootstrap, KeepsCyclingWithoutATimerDescriptor) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizer runtimes open descriptors of their own (UBSan's type checks, reports).
  GTEST_SKIP() << "needs a process whose only user of descriptors is the code under test";
#endif
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  // Every descriptor taken but one, which the loop's wake-up descriptor gets.
  std::vector<privatefiles::UniqueFd> held;
  while (true) {
    privatefiles::UniqueFd fd(::eventfd(0, EFD_CLOEXEC));
    if (!fd) break;
    held.push_back(std::move(fd));
  }
  ASSERT_FALSE(held.empty());
  held.pop_back();

  auto bootstrap = make(50ms);
  bootstrap->start(kSorel, world->registry(), recorder(world));
  const bool running = bootstrap->isRunning();
  std::this_thread::sleep_for(400ms);
  const int cyclesStarved = world->fake.mainBundle.urlCalls.load();
  held.clear();
  ::setrlimit(RLIMIT_NOFILE, &saved);

  ASSERT_TRUE(running);
  EXPECT_GE(cyclesStarved, 4) << "cycles every 50 ms while out of descriptors";
  EXPECT_LE(cyclesStarved, 12) << "the pause still lasts its 50 ms";
  permit();
  EXPECT_TRUE(eventually([&] { return world->callCount() >= 2; }));
  EXPECT_TRUE(bootstrap->isRunning());
  const auto stopped = Clock::now();
  bootstrap->stop();
  EXPECT_TRUE(bootstrap->waitForLoopEnd(5s));
  EXPECT_LT(Clock::now() - stopped, 2s);
}

}  // namespace
}  // namespace veltra
