// ScopedApplicationSupport: points the Application Support folder (XDG_DATA_HOME) at a fresh
// private temporary folder for the object's lifetime, and restores the old value afterwards.
//
//   ScopedApplicationSupport support;
//   withCredentialLock([] {});   // uses support.path() / "PellowGitHub"
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/TestFiles.h"

namespace pellow::testing {

class ScopedApplicationSupport {
 public:
  ScopedApplicationSupport() : path_(temp_ / "data") {
    if (const char* old = std::getenv("XDG_DATA_HOME")) saved_ = old;
    ::setenv("XDG_DATA_HOME", path_.c_str(), 1);
  }
  ~ScopedApplicationSupport() {
    if (saved_) {
      ::setenv("XDG_DATA_HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
  }
  ScopedApplicationSupport(const ScopedApplicationSupport&) = delete;
  ScopedApplicationSupport& operator=(const ScopedApplicationSupport&) = delete;

  // The Application Support folder (not created until something needs it).
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path lockFolder() const { return path_ / "PellowGitHub"; }
  std::filesystem::path lockFile() const { return lockFolder() / "credential.lock"; }

 private:
  testkit::TemporaryFolder temp_;
  std::filesystem::path path_;
  std::optional<std::string> saved_;
};

}  // namespace pellow::testing
