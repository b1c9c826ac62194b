// Switching the failing disk (FailingDisk.cc) on for this process and the programs it starts.
//
//   {
//     const testkit::FailingDisk disk(state, "fsync,rename");   // ENOSPC under state/
//     EXPECT_EQ(test::cocoaCode([&] { S::update(registry, change); }), 512);
//   }                                                            // healthy again
//
// The library must be linked into the test program (its calls fail while the variables are set)
// or, with `preload`, it is preloaded into the programs started meanwhile. The variables are
// process-wide: one object at a time, not shared between threads.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testkit {

class FailingDisk {
 public:
  // Makes `ops` (see FailingDisk.cc) fail with ENOSPC on every path below `folder`.
  FailingDisk(const std::filesystem::path& folder, const char* ops, bool preload = false) {
    ::setenv("FAULT_DISK_PATTERN", (folder.string() + "/*").c_str(), 1);
    ::setenv("FAULT_DISK_OPS", ops, 1);
    ::setenv("FAULT_DISK_ERRNO", "28", 1);  // ENOSPC
    if (preload) {
      ::setenv("LD_PRELOAD", FAILING_DISK_PATH, 1);
      // A sanitized helper must accept a library loaded ahead of its runtime.
      const char* options = std::getenv("ASAN_OPTIONS");
      if (options != nullptr) savedSanitizerOptions_ = options;
      ::setenv("ASAN_OPTIONS",
               (savedSanitizerOptions_.empty() ? "" : savedSanitizerOptions_ + ":")
                   .append("verify_asan_link_order=0")
                   .c_str(),
               1);
      preloaded_ = true;
    }
  }
  ~FailingDisk() {
    for (const char* name : {"FAULT_DISK_PATTERN", "FAULT_DISK_OPS", "FAULT_DISK_ERRNO"}) {
      ::unsetenv(name);
    }
    if (!preloaded_) return;
    ::unsetenv("LD_PRELOAD");
    if (savedSanitizerOptions_.empty()) {
      ::unsetenv("ASAN_OPTIONS");
    } else {
      ::setenv("ASAN_OPTIONS", savedSanitizerOptions_.c_str(), 1);
    }
  }
  FailingDisk(const FailingDisk&) = delete;
  FailingDisk& operator=(const FailingDisk&) = delete;

 private:
  std::string savedSanitizerOptions_;
  bool preloaded_ = false;
};

}  // namespace testkit
