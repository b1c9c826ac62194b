// GitHubURLSessionTransport: the production GitHubTransport, HTTPS through the network module.
//
// One transport serves a whole helper run and keeps its connection(s) open between requests.
// It sends only to https://<GitHub web host> and https://<GitHub API host> (exact host names, no
// user, password or port), follows no redirection (a 3xx comes back as it is), keeps no cookies,
// cache or stored credentials, gives up after 20 s without data or 25 s in all (or the request's
// own limit when shorter), and refuses a body over 4,194,304 bytes.
//
//   auto transport = std::make_shared<GitHubURLSessionTransport>();  // cheap: loads nothing
//   auto same = std::make_shared<GitHubURLSessionTransport>(pellow::Session::current());
//   HTTPResult result = transport->send(request);  // loads pellow-net.so on first use
//
// Not thread-safe: one request at a time.
#pragma once

#include <memory>

#include "PellowGitHub/GitHubTransport.h"
#include "PellowSession/Session.h"

struct PellowNetModule;  // the network module's function table (net/NetModuleABI.h)

namespace pellow {
namespace detail {

// Destroys a transport of the network module through that module's own function.
struct ModuleTransportDeleter {
  const PellowNetModule* module = nullptr;
  void operator()(void* transport) const noexcept;
};

}  // namespace detail

class GitHubURLSessionTransport final : public GitHubTransport {
 public:
  // Loads nothing and opens nothing: most runs of the helper never send a request. Keeps a copy
  // of `session` (the module's folder, and in test builds the test seams).
  explicit GitHubURLSessionTransport(const Session& session = Session::current())
      : session_(session) {}
  GitHubURLSessionTransport(const GitHubURLSessionTransport&) = delete;
  GitHubURLSessionTransport& operator=(const GitHubURLSessionTransport&) = delete;
  // Closes the transport's connections, if it made any.
  ~GitHubURLSessionTransport() override = default;

  // See GitHubTransport::send. Besides the PellowErrors described there, throws
  // std::runtime_error when the network module cannot be loaded, std::invalid_argument for a
  // method or header that cannot be sent as written (CR, LF or NUL in it, an empty name or
  // method), and std::bad_alloc.
  HTTPResult send(const HTTPRequest& request) override;

 private:
  Session session_;
  std::unique_ptr<void, detail::ModuleTransportDeleter> transport_;  // made on the first send
};

}  // namespace pellow
