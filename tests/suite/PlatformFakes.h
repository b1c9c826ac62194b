// In-memory stand-ins for the application services, recording what the code under test did.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/Platform.h"

namespace veltra::test {

class FakeWorkspace final : public Workspace {
 public:
  struct Opened {
    std::filesystem::path bundle;
    OpenConfiguration configuration;
  };
  std::vector<RunningApplication> running;
  std::map<std::string, std::filesystem::path, std::less<>> registry;
  std::vector<Opened> opened;
  std::optional<std::error_code> openError;
  int accessoryCalls = 0;
  int runningListCalls = 0;

  std::vector<RunningApplication> runningApplications() override {
    ++runningListCalls;
    return running;
  }
  std::optional<std::filesystem::path> urlForApplication(std::string_view bundleId) override {
    const auto it = registry.find(bundleId);
    if (it == registry.end()) return std::nullopt;
    return it->second;
  }
  void openApplication(const CheckedApp& app, const OpenConfiguration& configuration) override {
    if (openError) throw std::system_error(*openError);
    opened.push_back({app.path(), configuration});
  }
  void setAccessoryActivationPolicy() override { ++accessoryCalls; }
};

class FakeAlerts final : public AlertPresenter {
 public:
  std::deque<int> answers;  // popped per alert; empty: the alert cannot be shown
  std::vector<AlertContent> shown;
  // Runs while the alert is "on screen", before the answer is returned.
  std::function<void()> whileShown;

  int runModal(const AlertContent& alert) override {
    if (answers.empty()) throw std::system_error(std::make_error_code(std::errc::no_such_device));
    shown.push_back(alert);
    if (whileShown) whileShown();
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class FakeMainBundle final : public MainBundle {
 public:
  std::optional<std::string> identifier;
  std::optional<std::filesystem::path> url;
  std::atomic<int> urlCalls{0};  // the background loop reads the URL once per cycle
  std::optional<std::string> bundleIdentifier() override { return identifier; }
  std::optional<std::filesystem::path> bundleURL() override {
    ++urlCalls;
    return url;
  }
};

// An app the fake verifier passed: its path made absolute, no executable.
class FakeCheckedApp final : public CheckedApp {
 public:
  explicit FakeCheckedApp(std::filesystem::path path) : path_(std::move(path)) {}
  const std::filesystem::path& path() const override { return path_; }
  int executable() const override { return -1; }

 private:
  std::filesystem::path path_;
};

// Verifies exactly the (path, bundle id) pairs it was given.
class FakeVerifier final : public CodeVerifier {
 public:
  std::set<std::pair<std::string, std::string>> genuine;
  std::vector<std::pair<std::string, std::string>> calls;
  // Runs inside every check, before the answer (for a check that takes its time).
  std::function<void()> whileVerifying;

  void add(const std::filesystem::path& path, const std::string& bundleId) {
    genuine.insert({path.string(), bundleId});
  }
  std::shared_ptr<const CheckedApp> check(const std::filesystem::path& url,
                                          std::string_view bundleId) override {
    calls.emplace_back(url.string(), std::string(bundleId));
    if (whileVerifying) whileVerifying();
    if (!genuine.contains({url.string(), std::string(bundleId)})) return nullptr;
    return std::make_shared<FakeCheckedApp>(absolutePath(url));
  }
};

struct FakePlatform {
  FakeWorkspace workspace;
  FakeAlerts alerts;
  FakeMainBundle mainBundle;
  FakeVerifier verifier;
  VeltraPlatform platform{workspace, alerts, mainBundle, verifier, "/Applications"};
};

}  // namespace veltra::test
