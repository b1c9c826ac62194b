// GitHubAppRegistration: the GitHub App whose OAuth device flow signs the user in: its OAuth
// client identifier and its URL slug.
//
//   const GitHubAppRegistration& app = GitHubAppRegistration::builtIn();
//   DeviceCode code = authorization.begin(app, clock.now());
//   std::string page = app.installationURL();  // https://github.com/apps/<slug>/installations/new
//
// The built-in registration is client id "Tk5wNq0rZb8xLm3cPa7e", slug "pellow-notes-sync" (the
// app registered for Pellow on GitHub). A plain value, compared field by field; thread-safe.
#pragma once

#include <string>

namespace pellow {

inline constexpr const char* kRegistrationNotConfiguredMessage =
    "GitHub sign-in is not configured in this build. Use an access token instead.";

class GitHubAppRegistration {
 public:
  // Validates both values and keeps them unchanged (no trimming, no case folding). Checked in
  // this order: clientID non-empty, at most 100 user-perceived characters, every Unicode scalar a
  // letter, mark or number (any script) or one of "-", "_", "."; then the same three for slug;
  // then slug is neither "." nor "..". Text that is not valid UTF-8 is refused too. Any failure
  // throws PellowError kRegistrationNotConfiguredMessage, whichever rule failed.
  GitHubAppRegistration(std::string clientID, std::string slug);

  // The registration built into the helper, created on first use.
  static const GitHubAppRegistration& builtIn();

  // The web base URL + "/apps/" + slug + "/installations/new". A slug with non-ASCII letters is
  // written with each byte of its UTF-8 form percent-encoded (upper-case hex), so the result is
  // always a valid URL; an ASCII slug appears as it is.
  std::string installationURL() const;

  const std::string& clientID() const { return clientID_; }
  const std::string& slug() const { return slug_; }

  friend bool operator==(const GitHubAppRegistration&, const GitHubAppRegistration&) = default;

 private:
  std::string clientID_;
  std::string slug_;
};

}  // namespace pellow
