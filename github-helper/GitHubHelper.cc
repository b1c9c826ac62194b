#include "github-helper/GitHubHelper.h"

#include <array>
#include <charconv>
#include <string>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/Json.h"
#include "Session/Trace.h"
#include "github-helper/Commands.h"

namespace pellow {
namespace {

using Operation = nlohmann::json (*)(CommandContext&, const nlohmann::json&);

struct OperationEntry {
  std::string_view name;
  Operation run;
};

// Looked up in this order; names are compared exactly, case included.
constexpr std::array<OperationEntry, 8> kOperations{{
    {"status", &statusCommand},
    {"begin", &beginCommand},
    {"poll", &pollCommand},
    {"save", &saveCommand},
    {"disconnect", &disconnectCommand},
    {"repository", &repositoryCommand},
    {"installations", &installationsCommand},
    {"repositories", &repositoriesCommand},
}};

// The user's sentence for a failure; the trace keeps the failure's name and the cause that the
// sentence leaves out (an exception's own text: a file system error names its path and errno, a
// JSON error its position). Neither carries a secret: no layer puts one into an exception.
std::string messageOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const PellowError& e) {
    trace::line("answer", "error " + std::string(failureName(e.failure())) + ": " +
                              std::string(e.message()) +
                              (e.cause().empty() ? "" : " (cause: " + e.cause() + ")"));
    return std::string(e.message());
  } catch (const std::exception& e) {
    trace::line("answer", std::string("error (shown as the generic message): ") + e.what());
    return std::string(kGenericFailureMessage);
  } catch (...) {
    trace::line("answer", "error of an unknown kind (shown as the generic message)");
    return std::string(kGenericFailureMessage);
  }
}

nlohmann::json runJSONRequest(StandardStreams& streams, CommandContext& context) {
  const std::string input = streams.readInput(kJSONRequestLimit);
  if (input.size() > kJSONRequestLimit) throw PellowError("Invalid GitHub request.");
  const nlohmann::json request = json::parse(input);
  if (!request.is_object()) throw PellowError("Invalid GitHub request.");
  const auto operation = request.find("operation");
  if (operation == request.end() || !operation->is_string()) {
    throw PellowError("Invalid GitHub request.");
  }
  const auto& name = operation->get_ref<const std::string&>();
  for (const auto& entry : kOperations) {
    if (entry.name == name) {
      trace::line("request", std::string(entry.name));
      return entry.run(context, request);
    }
  }
  throw PellowError("Invalid GitHub operation.");
}

}  // namespace

std::optional<std::int64_t> parseAccountID(std::string_view text) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  if (negative) return std::nullopt;  // "-0" and every negative value are below 1
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || value < 1) {
    return std::nullopt;
  }
  return value;
}

int runGitHubHelper(std::span<const std::string_view> arguments, StandardStreams& streams,
                    CommandContext& context) {
  const bool credentialMode = !arguments.empty() && arguments.front() == "credential";
  try {
    if (credentialMode) {
      if (arguments.size() != 3 || arguments[2] != "get") return 0;
      const auto account = parseAccountID(arguments[1]);
      if (!account) return 0;
      trace::line("request", "git credential get for account " + std::to_string(*account));
      gitCredentialCommand(context, *account, streams);
      return 0;
    }
    if (!arguments.empty()) throw PellowError("Invalid GitHub helper operation.");
    const nlohmann::json payload = runJSONRequest(streams, context);
    // The whole answer is built before anything is written, so a failure while encoding it
    // still leaves room for the error answer.
    const std::string answer = json::serialize(nlohmann::json{{"ok", payload}});
    streams.writeOutput(answer);
    return 0;
  } catch (...) {
    const std::string message = messageOf(std::current_exception());
    if (credentialMode) {
      streams.writeError("Pellow GitHub: " + message + "\n");
      return 1;
    }
    streams.writeOutput(json::serialize(nlohmann::json{{"error", message}}));
    return 0;
  }
}

}  // namespace pellow
