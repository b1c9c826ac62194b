// ScopedApplicationSupport: points the Application Support folder (the process session's data
// home) at a fresh private temporary folder for the object's lifetime, and restores the session
// afterwards. The process environment is left alone.
//
//   ScopedApplicationSupport support;
//   withCredentialLock([] {});   // uses support.path() / "PellowGitHub"
#pragma once

#include <filesystem>

#include "PellowSession/Session.h"
#include "Session/CurrentSession.h"
#include "tests/support/TestFiles.h"

namespace pellow::testing {

class ScopedApplicationSupport {
 public:
  ScopedApplicationSupport() : path_(temp_ / "data") {
    Session session = Session::current();
    session.dataHome = path_;
    saved_ = exchangeCurrentSession(std::move(session));
  }
  ~ScopedApplicationSupport() { exchangeCurrentSession(std::move(saved_)); }
  ScopedApplicationSupport(const ScopedApplicationSupport&) = delete;
  ScopedApplicationSupport& operator=(const ScopedApplicationSupport&) = delete;

  // The Application Support folder (not created until something needs it).
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path lockFolder() const { return path_ / "PellowGitHub"; }
  std::filesystem::path lockFile() const { return lockFolder() / "credential.lock"; }

 private:
  testkit::TemporaryFolder temp_;
  std::filesystem::path path_;
  Session saved_;
};

}  // namespace pellow::testing
