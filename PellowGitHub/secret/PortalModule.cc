// The Secret portal call of the keyring module (PortalModuleABI.h) and the table exported as
// "pellow_portal_module_v1".
//
// RetrieveSecret takes the write end of a pipe and a request handle; the portal asks its
// backend (GNOME Keyring) for the app's secret, which the backend writes into the pipe, and then
// answers on the request object with a Response signal. So: subscribe to the Response of the
// handle we will get before asking, send the call, wait for the response within the budget, and
// read the pipe only after a successful response. Our own copy of the write end is closed as
// soon as the descriptor list holds its duplicate, and the read never waits for the end of the
// pipe (GDBus may keep its duplicate open a while): it takes what the backend wrote, waiting
// only until the first bytes arrive.
#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PellowGitHub/secret/GLibSupport.h"
#include "PellowGitHub/secret/PortalCrypto.h"

namespace {

using pellow::secret::AsyncDeadline;
using pellow::secret::GErrorPtr;
using pellow::secret::GObjectPtr;
using pellow::secret::GVariantPtr;
using pellow::secret::ThreadDefaultContext;
using pellow::secret::TimeBudget;

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSecretInterface = "org.freedesktop.portal.Secret";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
// The backend's secret is 64 bytes; anything much shorter is not key material.
constexpr std::size_t kMinimumSecret = 16;
constexpr std::size_t kMaximumSecret = 4096;

// One context for the module, so that the late callbacks of abandoned calls still find a
// context that lives (see AsyncDeadline).
GMainContext* moduleContext() {
  static GMainContext* const context = g_main_context_new();
  return context;
}

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Wiped {
  std::vector<unsigned char> bytes;
  ~Wiped() {
    volatile unsigned char* p = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
  }
};

// Follows one request object's Response signal while it lives.
class ResponseWatch {
 public:
  ResponseWatch(GDBusConnection* connection, const std::string& path) : connection_(connection) {
    id_ = g_dbus_connection_signal_subscribe(connection, nullptr, kRequestInterface, "Response",
                                             path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                             &ResponseWatch::received, this, nullptr);
  }
  ~ResponseWatch() { g_dbus_connection_signal_unsubscribe(connection_, id_); }
  ResponseWatch(const ResponseWatch&) = delete;
  ResponseWatch& operator=(const ResponseWatch&) = delete;

  bool done = false;
  guint32 response = 2;

 private:
  static void received(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, gpointer data) {
    auto* self = static_cast<ResponseWatch*>(data);
    if (self->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    g_variant_get_child(parameters, 0, "u", &self->response);
    self->done = true;
  }

  GDBusConnection* connection_;
  guint id_ = 0;
};

// The request path the portal derives from our unique name and token (the documented form);
// subscribing to it before the call means a quick Response cannot be missed.
std::string requestPath(GDBusConnection* connection, const std::string& token) {
  std::string sender = g_dbus_connection_get_unique_name(connection);
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
}

bool meansAbsent(const GError* error) {
  return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT);
}

// Reads what the backend wrote: waits (within the budget) for the first bytes, then takes what
// is there without waiting for the end of the pipe.
bool readSecret(int fd, TimeBudget& budget, Wiped& secret) {
  std::array<unsigned char, 512> chunk{};
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got > 0) {
      secret.bytes.insert(secret.bytes.end(), chunk.data(), chunk.data() + got);
      std::memset(chunk.data(), 0, chunk.size());
      if (secret.bytes.size() > kMaximumSecret) return false;
      continue;
    }
    if (got == 0) break;  // the end: every writer closed
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    if (!secret.bytes.empty()) break;
    pollfd wanted{fd, POLLIN, 0};
    const std::int64_t began = g_get_monotonic_time();
    const int ready = ::poll(&wanted, 1, static_cast<int>(budget.left() / 1000));
    budget.spend(g_get_monotonic_time() - began);
    if (ready <= 0) return false;
  }
  return secret.bytes.size() >= kMinimumSecret;
}

// Withdraws a request that ran out of time (the keyring's unlock prompt may still be waiting
// for the user), and gives the message a moment to leave before the connection goes.
void closeRequest(GDBusConnection* connection, const char* handle, GMainContext* main) {
  g_dbus_connection_call(connection, kPortalName, handle, kRequestInterface, "Close", nullptr,
                         nullptr, G_DBUS_CALL_FLAGS_NONE, 200, nullptr, nullptr, nullptr);
  TimeBudget grace(200 * 1000);
  AsyncDeadline(main, grace)
      .await([connection](GCancellable* cancellable, GAsyncReadyCallback done, gpointer d) {
        g_dbus_connection_flush(connection, cancellable, done, d);
      });
}

int32_t retrieveSecret(const char* busAddress, int64_t budgetMs, void* context,
                       void (*secretOut)(void*, PellowPortalBytes)) {
  if (busAddress == nullptr || *busAddress == '\0' || budgetMs <= 0) return PELLOW_PORTAL_FAILED;
  GMainContext* main = moduleContext();
  const ThreadDefaultContext current(main);
  TimeBudget budget(budgetMs * 1000);
  AsyncDeadline deadline(main, budget);

  // A connection of our own: the portal identifies the app by the connection's process.
  const std::string address = busAddress;
  GObjectPtr<GAsyncResult> connected =
      deadline.await([&address](GCancellable* cancellable, GAsyncReadyCallback done, gpointer d) {
        g_dbus_connection_new_for_address(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable, done, d);
      });
  if (!connected) return PELLOW_PORTAL_FAILED;
  GError* rawError = nullptr;
  GObjectPtr<GDBusConnection> connection(
      g_dbus_connection_new_for_address_finish(connected.get(), &rawError));
  GErrorPtr error(rawError);
  if (!connection) return PELLOW_PORTAL_FAILED;

  const std::string token = "pellow" + std::to_string(g_random_int());
  auto watch =
      std::make_unique<ResponseWatch>(connection.get(), requestPath(connection.get(), token));

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return PELLOW_PORTAL_FAILED;
  Descriptor readEnd(ends[0]);
  GObjectPtr<GUnixFDList> descriptors(g_unix_fd_list_new());
  {
    // The list holds its own duplicate; ours must go, or the pipe could never end.
    Descriptor writeEnd(ends[1]);
    if (g_unix_fd_list_append(descriptors.get(), writeEnd.get(), nullptr) < 0) {
      return PELLOW_PORTAL_FAILED;
    }
  }
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  GVariant* parameters = g_variant_new("(h@a{sv})", 0, g_variant_builder_end(&options));

  GUnixFDList* list = descriptors.get();
  const int timeoutMs = static_cast<int>(budget.left() / 1000) + 1;
  GObjectPtr<GAsyncResult> called =
      deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback done, gpointer d) {
        g_dbus_connection_call_with_unix_fd_list(connection.get(), kPortalName, kPortalPath,
                                                 kSecretInterface, "RetrieveSecret", parameters,
                                                 G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                 timeoutMs, list, cancellable, done, d);
      });
  descriptors.reset();  // the message keeps what it still needs
  if (!called) return PELLOW_PORTAL_FAILED;
  GVariantPtr reply(g_dbus_connection_call_with_unix_fd_list_finish(connection.get(), nullptr,
                                                                    called.get(), &rawError));
  error.reset(rawError);
  if (!reply) return meansAbsent(error.get()) ? PELLOW_PORTAL_ABSENT : PELLOW_PORTAL_FAILED;

  const gchar* handle = nullptr;
  g_variant_get(reply.get(), "(&o)", &handle);
  if (handle != requestPath(connection.get(), token)) {
    // Portals older than handle tokens choose the path themselves.
    watch = std::make_unique<ResponseWatch>(connection.get(), handle);
  }
  if (!pellow::secret::iterateUntil(main, watch->done, budget)) {
    closeRequest(connection.get(), handle, main);
    return PELLOW_PORTAL_FAILED;
  }
  if (watch->response != 0) return PELLOW_PORTAL_REFUSED;

  Wiped secret;
  if (!readSecret(readEnd.get(), budget, secret)) return PELLOW_PORTAL_FAILED;
  secretOut(context, PellowPortalBytes{secret.bytes.data(), secret.bytes.size()});
  return PELLOW_PORTAL_SUCCESS;
}

constexpr PellowPortalModule kModule{
    PELLOW_PORTAL_ABI_VERSION,
    [](const char* address, int64_t budget, void* context,
       void (*out)(void*, PellowPortalBytes)) -> int32_t {
      try {
        return retrieveSecret(address, budget, context, out);
      } catch (...) {
        return PELLOW_PORTAL_FAILED;
      }
    },
    &pellow_portal_seal,
    &pellow_portal_open,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const PellowPortalModule* pellow_portal_module_v1(
    void) {
  return &kModule;
}
