// PellowError: the one error type of the GitHub helper.
//
// It carries one complete, user-facing English sentence, and where the layer that threw it knew
// more, the cause that the sentence leaves out (which store status, which file and errno, which
// HTTP status): the trace shows it, the user never does. Every layer below the command layer
// throws it (or passes another layer's exception up unchanged); only the command layer turns an
// exception into output, showing `message()` for a PellowError and the generic failure message
// for anything else. A cause never holds a token, code or secret.
//
//   throw PellowError("Invalid GitHub address.");
//   throw PellowError(kKeychainMessage, "Secret Service: interaction not allowed (locked)");
//   ...
//   catch (const PellowError& e) { answer(e.message()); log(e.cause()); }
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace pellow {

class PellowError : public std::runtime_error {
 public:
  explicit PellowError(const std::string& message) : std::runtime_error(message) {}
  explicit PellowError(const char* message) : std::runtime_error(message) {}
  PellowError(std::string_view message, std::string cause)
      : std::runtime_error(std::string(message)), cause_(std::move(cause)) {}

  // The message exactly as shown to the user.
  std::string_view message() const noexcept { return what(); }

  // What the thrower knew of why (empty when nothing more than the message).
  const std::string& cause() const noexcept { return cause_; }

 private:
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
