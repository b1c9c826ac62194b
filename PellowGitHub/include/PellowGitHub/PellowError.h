// PellowError: the one error type of the GitHub helper.
//
// It names what went wrong (a GitHubFailure, with what the thrower knew in its FailureContext)
// and carries the user's sentence for it, chosen by describeFailure (GitHubFailure.h), the one
// table of the library's words: throw sites below the command layer never write a sentence. The
// command layer, which alone turns an exception into output, shows `message()` for a PellowError
// and the generic failure message for anything else; the trace shows `failure()` and `cause()`,
// the user never does. A context never holds a token, code or secret.
//
//   throw PellowError(GitHubFailure::lockTimeout, {.path = file, .detail = "held by another"});
//   throw PellowError("Invalid GitHub request.");        // the command layer's own sentence
//   ...
//   catch (const PellowError& e) { answer(e.message()); log(failureName(e.failure()), e.cause()); }
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "PellowGitHub/GitHubFailure.h"

namespace pellow {

class PellowError : public std::runtime_error {
 public:
  // `failure` with its sentence from describeFailure, which may throw (see there).
  PellowError(GitHubFailure failure, FailureContext context)
      : std::runtime_error(describeFailure(failure, context)),
        failure_(failure),
        context_(std::move(context)),
        cause_(describeCause(context_)) {}
  explicit PellowError(GitHubFailure failure) : PellowError(failure, FailureContext{}) {}
  // A stated failure: `message` is the sentence.
  explicit PellowError(const std::string& message)
      : PellowError(GitHubFailure::stated, FailureContext{.statedMessage = message}) {}
  explicit PellowError(const char* message) : PellowError(std::string(message)) {}

  // The message exactly as shown to the user.
  std::string_view message() const noexcept { return what(); }

  GitHubFailure failure() const noexcept { return failure_; }
  const FailureContext& context() const noexcept { return context_; }

  // The context in one line (describeCause); empty when the thrower knew nothing more.
  const std::string& cause() const noexcept { return cause_; }

 private:
  GitHubFailure failure_;
  FailureContext context_;
  std::string cause_;
};

// Shown for every failure that is not a PellowError.
inline constexpr std::string_view kGenericFailureMessage =
    "GitHub could not complete this request. Try again in Git sync settings.";

// Messages shared by several parts of the library.
inline constexpr std::string_view kKeychainMessage =
    "Pellow could not access GitHub credentials in Keychain. Unlock your Mac and allow "
    "Pellow\u2019s Keychain request, then try again.";
inline constexpr std::string_view kUnreadableCredentialMessage =
    "The saved GitHub credential could not be read. Sign in again in Settings.";
inline constexpr std::string_view kInvalidAddressMessage = "Invalid GitHub address.";
inline constexpr std::string_view kUnreachableMessage =
    "Could not reach GitHub. Check your connection and try again. Your notes remain saved "
    "locally.";
inline constexpr std::string_view kInvalidResponseMessage =
    "GitHub returned an invalid response. Try again.";

}  // namespace pellow
