// pellow-secret.so: the keychain item in the desktop keyring, over the Secret Service API.
//
// One item per service with the attributes "service" and "account", in the collection that the
// "default" alias names (the home collection). Providers differ where it matters here: GNOME
// Keyring lists the items of a locked collection (as locked), KeePassXC lists none while its
// database is locked, and a search of the whole service may make KeePassXC ask to unlock first.
// So every operation first reads the home collection's Locked property, which never prompts, and
// a locked or missing home answers "interaction not allowed" before anything else is sent. Only
// an unlocked home is searched, read or changed. The one exception is kwalletd, whose collection
// reports Locked while its wallet is open: there an open wallet's collection is unlocked first,
// which shows nothing (KWalletUnlock.h). An item whose secret reads as empty (KWallet answers
// so for a locked collection, and for an item whose write never reached the wallet file) is
// unreadable, never a credential. KeePassXC completes every create and delete
// through a prompt object; such a prompt is run and, if it waits for the user past the budget
// (KeePassXC's confirmations), dismissed (SecretBus.h).
//
// libsecret provides the encrypted transport of secrets (its session, encode and decode); every
// other call goes to the service directly, so that no part of libsecret that prompts is reached.
// Every call is bounded by the store's time budget (GLibSupport.h): a daemon that hangs, a bus
// that stalls, or a provider that waits for the user costs at most that budget.
#define SECRET_API_SUBJECT_TO_CHANGE 1
#include <libsecret/secret.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PellowGitHub/secret/GLibSupport.h"
#include "PellowGitHub/secret/KWalletUnlock.h"
#include "PellowGitHub/secret/SecretBus.h"
#include "PellowGitHub/secret/SecretModuleABI.h"

namespace pellow::secret {
namespace {

constexpr std::int32_t kSuccess = PELLOW_SECRET_SUCCESS;
constexpr std::int32_t kItemNotFound = PELLOW_SECRET_ITEM_NOT_FOUND;
constexpr std::int32_t kInteractionNotAllowed = PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
constexpr std::int32_t kIOError = PELLOW_SECRET_IO_ERROR;
constexpr std::int64_t kCancelGraceMicroseconds = 500 * 1000;

// The helper's standard error belongs to its answer; GLib's warnings must not reach it.
GLogWriterOutput discardLog(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

void silenceGLibOnce() {
  static const bool silenced = [] {
    g_log_set_writer_func(&discardLog, nullptr, nullptr);
    return true;
  }();
  static_cast<void>(silenced);
}

// One context for the whole process. GDBus delivers a connection's late events (its "closed"
// signal, the last references of finished calls) to the context it was made in; dispatching
// them before each new store lets a connection to a bus that went away be freed, so that the
// next store connects afresh instead of reusing a dead connection.
GMainContext* moduleContext() {
  static GMainContext* const context = g_main_context_new();
  return context;
}

void dispatchPendingEvents(GMainContext* context) {
  while (g_main_context_iteration(context, FALSE)) {
  }
}

// libsecret's view of the service and its encrypted session, opened in the background as soon
// as a store exists, while the home collection is being checked: when a secret is to be read or
// written they are usually there already, at no extra wait. Nothing of it can prompt. Freed by
// its owner once done, otherwise by its last callback (SessionStartRelease).
struct SessionStart {
  GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
  GObjectPtr<SecretService> service;
  bool done = false;
  bool abandoned = false;

  static void begin(SessionStart* self) {
    secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, self->cancellable.get(),
                        &SessionStart::opened, self);
  }

 private:
  static void opened(GObject*, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<SessionStart*>(data);
    GError* error = nullptr;
    GObjectPtr<SecretService> service(secret_service_open_finish(result, &error));
    g_clear_error(&error);
    if (self->abandoned) {
      delete self;
    } else if (!service) {
      self->done = true;
    } else {
      self->service = std::move(service);
      secret_service_ensure_session(self->service.get(), self->cancellable.get(),
                                    &SessionStart::sessionOpened, self);
    }
  }

  static void sessionOpened(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<SessionStart*>(data);
    GError* error = nullptr;
    secret_service_ensure_session_finish(SECRET_SERVICE(source), result, &error);
    g_clear_error(&error);
    if (self->abandoned) {
      delete self;
    } else {
      self->done = true;
    }
  }
};

struct SessionStartRelease {
  void operator()(SessionStart* start) const noexcept {
    if (start->done) {
      delete start;
    } else {
      start->abandoned = true;
      g_cancellable_cancel(start->cancellable.get());
    }
  }
};

struct Store {
  explicit Store(std::int64_t budgetMicroseconds)
      : context(moduleContext()), budget(budgetMicroseconds) {}
  ~Store() {
    ThreadDefaultContext current(context);
    if (session && !session->done) {
      // A cancelled call completes at once; waiting for it frees everything here, not later.
      g_cancellable_cancel(session->cancellable.get());
      iterateUntil(context, session->done, kCancelGraceMicroseconds);
    }
    session.reset();
    connection.reset();
    dispatchPendingEvents(context);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  SecretBus bus() { return SecretBus(connection.get(), context, budget); }

  GMainContext* context;
  TimeBudget budget;
  GObjectPtr<GDBusConnection> connection;
  // The collection that the "default" alias named when the store was opened ("/": none). The
  // item lives there; its Locked property is read again before every operation.
  std::string home = "/";
  std::unique_ptr<SessionStart, SessionStartRelease> session;
  // Without a connection: the status every call answers.
  std::int32_t failure = kIOError;
  // What the last call decided that the answer alone does not say, for the helper's trace.
  std::string reason;
};

// D-Bus strings must be valid UTF-8 without NUL bytes.
std::optional<std::string> busText(PellowSecretString text) {
  if (text.size > 0 && text.data == nullptr) return std::nullopt;
  const std::string_view view(text.data == nullptr ? "" : text.data, text.size);
  if (view.find('\0') != std::string_view::npos) return std::nullopt;
  if (!g_utf8_validate(view.data(), static_cast<gssize>(view.size()), nullptr)) {
    return std::nullopt;
  }
  return std::string(view);
}

struct SecretValueUnref {
  void operator()(SecretValue* value) const noexcept {
    if (value != nullptr) secret_value_unref(value);
  }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;

SecretValuePtr secretValue(PellowSecretString data) {
  const char* bytes = data.data == nullptr ? "" : data.data;
  const auto length = static_cast<gssize>(data.size);
  // Text is labelled as text so that keyring managers show it; anything else stays opaque.
  const bool text = std::string_view(bytes, data.size).find('\0') == std::string_view::npos &&
                    g_utf8_validate(bytes, length, nullptr);
  return SecretValuePtr(
      secret_value_new(bytes, length, text ? "text/plain" : "application/octet-stream"));
}

struct Key {
  std::map<std::string, std::string> attributes;
};

std::optional<Key> keyOf(PellowSecretString service, PellowSecretString account) {
  std::optional<std::string> s = busText(service);
  std::optional<std::string> a = busText(account);
  if (!s || !a) return std::nullopt;
  return Key{{{"service", std::move(*s)}, {"account", std::move(*a)}}};
}

// libsecret's service with its encrypted session, waited for within the budget; null when it
// could not be opened (status set).
SecretService* sessionService(Store& store, std::int32_t& status) {
  status = kIOError;
  if (!store.session) return nullptr;
  if (!iterateUntil(store.context, store.session->done, store.budget)) {
    status = kInteractionNotAllowed;
    return nullptr;
  }
  SecretService* service = store.session->service.get();
  if (service == nullptr || secret_service_get_session_dbus_path(service) == nullptr) {
    return nullptr;
  }
  status = kSuccess;
  return service;
}

// The items of the home collection that carry the key's attributes. The home must exist and be
// unlocked before it is searched; a missing one is answered like a locked one (the provider must
// first offer a collection: unlock or create the keyring, expose a KeePassXC group).
std::int32_t findItems(Store& store, const Key& key, std::vector<std::string>& items) {
  if (store.home == "/") {
    store.reason = "no default collection";
    return kInteractionNotAllowed;
  }
  SecretBus bus = store.bus();
  bool locked = true;
  std::int32_t status = bus.locked(store.home, locked);
  if (status != kSuccess) return status;
  if (locked && (status = unlockOpenKWallet(bus, store.home, store.reason)) != kSuccess) {
    return status;
  }
  return bus.search(store.home, key.attributes, items);
}

std::int32_t copyData(Store& store, const Key& key, void* context,
                      void (*dataOut)(void*, PellowSecretString)) {
  std::vector<std::string> items;
  std::int32_t status = findItems(store, key, items);
  if (status != kSuccess) return status;
  if (items.empty()) return kItemNotFound;
  SecretService* service = sessionService(store, status);
  if (service == nullptr) return status;
  GVariantPtr secret;
  SecretBus bus = store.bus();
  status = bus.getSecret(items.front(), secret_service_get_session_dbus_path(service), secret);
  if (status != kSuccess) return status;
  const SecretValuePtr value(secret_service_decode_dbus_secret(service, secret.get()));
  gsize length = 0;
  const gchar* bytes = value ? secret_value_get(value.get(), &length) : nullptr;
  if (bytes == nullptr || length == 0) {
    // Nothing the helper stores is empty: an empty answer is a secret that could not be read.
    store.reason = "the item's secret reads as empty";
    return kInteractionNotAllowed;
  }
  dataOut(context, PellowSecretString{bytes, length});
  return kSuccess;
}

GVariantPtr encoded(SecretService* service, PellowSecretString data) {
  const SecretValuePtr value = secretValue(data);
  GVariant* secret = secret_service_encode_dbus_secret(service, value.get());
  return GVariantPtr(secret == nullptr ? nullptr : g_variant_ref_sink(secret));
}

std::int32_t update(Store& store, const Key& key, PellowSecretString data) {
  std::vector<std::string> items;
  std::int32_t status = findItems(store, key, items);
  if (status != kSuccess) return status;
  if (items.empty()) return kItemNotFound;
  SecretService* service = sessionService(store, status);
  if (service == nullptr) return status;
  const GVariantPtr secret = encoded(service, data);
  if (!secret) return kIOError;
  SecretBus bus = store.bus();
  for (const std::string& item : items) {
    if ((status = bus.setSecret(item, secret.get())) != kSuccess) return status;
  }
  return kSuccess;
}

std::int32_t add(Store& store, const Key& key, PellowSecretString data, const std::string& label) {
  std::vector<std::string> items;
  std::int32_t status = findItems(store, key, items);
  if (status != kSuccess) return status;
  // Like a keychain, the store holds one item per key: adding beside an existing one is refused.
  if (!items.empty()) return kIOError;
  SecretService* service = sessionService(store, status);
  if (service == nullptr) return status;
  const GVariantPtr secret = encoded(service, data);
  if (!secret) return kIOError;
  return store.bus().createItem(store.home, label, key.attributes, secret.get());
}

std::int32_t remove(Store& store, const Key& key) {
  std::vector<std::string> items;
  std::int32_t status = findItems(store, key, items);
  if (status != kSuccess) return status;
  if (items.empty()) return kItemNotFound;
  SecretBus bus = store.bus();
  for (const std::string& item : items) {
    status = bus.deleteItem(item);
    if (status != kSuccess && status != kItemNotFound) return status;
  }
  return kSuccess;
}

// Whether connecting failed because nothing listens at the bus address: no socket there
// (ENOENT) or a socket that no one accepts on (ECONNREFUSED). Everything else reached something:
// a bus that rejects the authentication, closes at once, is at its connection limit
// (LimitsExceeded), has a full listen queue (EAGAIN) or does not answer in time.
bool nothingListens(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED);
}

void* openStore(std::int64_t budgetMilliseconds) noexcept {
  try {
    silenceGLibOnce();
    auto store = std::make_unique<Store>(budgetMilliseconds * 1000);
    ThreadDefaultContext current(store->context);
    dispatchPendingEvents(store->context);
    AsyncDeadline deadline(store->context, store->budget);
    // A bus whose address is known but that does not answer in time, or refuses this client,
    // is still the user's bus: its keyring may hold the credential, so the answer is
    // "interaction not allowed", never a switch to the file store that would split the
    // credential between two places. Only nothing listening at the address means there is none.
    GObjectPtr<GAsyncResult> result =
        deadline.await([](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
          g_bus_get(G_BUS_TYPE_SESSION, cancellable, callback, d);
        });
    store->failure = kInteractionNotAllowed;
    if (!result) return store.release();
    GError* error = nullptr;
    store->connection.reset(g_bus_get_finish(result.get(), &error));
    if (!store->connection) {
      const GErrorPtr owned(error);
      return nothingListens(error) ? nullptr : store.release();
    }
    if (g_dbus_connection_is_closed(store->connection.get())) {
      store->connection.reset();
      return store.release();
    }
    // GLib ends the process when the shared session connection closes; a keyring daemon that
    // goes away must turn into a failed call instead.
    g_dbus_connection_set_exit_on_close(store->connection.get(), FALSE);
    // The first question is also the test whether a Secret Service runs: asked without
    // auto-start, a service that is only activatable is not started by us (on a server it would
    // come up with a locked keyring), and its absence means the file store.
    const std::int32_t status = store->bus().readDefaultAlias(store->home);
    if (status == kSecretNoService) return nullptr;
    if (status != kSuccess) {
      store->failure = status;
      store->connection.reset();
      return store.release();
    }
    if (store->home == "/") return store.release();
    store->session.reset(new SessionStart());
    SessionStart::begin(store->session.get());
    return store.release();
  } catch (...) {
    return nullptr;
  }
}

void closeStore(void* store) noexcept { delete static_cast<Store*>(store); }

const char* lastReason(void* opaque) noexcept {
  const auto* store = static_cast<const Store*>(opaque);
  return store == nullptr || store->reason.empty() ? nullptr : store->reason.c_str();
}

// The entry points below share one shape: check the arguments, make the store's context the
// current one, run the operation, and turn anything thrown into an I/O error.
template <typename Operation>
std::int32_t run(void* opaque, PellowSecretString service, PellowSecretString account,
                 Operation operation) noexcept {
  try {
    auto* store = static_cast<Store*>(opaque);
    const std::optional<Key> key = keyOf(service, account);
    if (store == nullptr || !key) return kIOError;
    if (!store->connection) return store->failure;
    store->reason.clear();
    ThreadDefaultContext current(store->context);
    const std::int32_t status = operation(*store, *key);
    return status == kSecretNoService ? kIOError : status;  // the service went away meanwhile
  } catch (...) {
    return kIOError;
  }
}

std::int32_t copyDataEntry(void* store, PellowSecretString service, PellowSecretString account,
                           void* context, void (*dataOut)(void*, PellowSecretString)) {
  return run(store, service, account,
             [&](Store& s, const Key& key) { return copyData(s, key, context, dataOut); });
}

std::int32_t updateEntry(void* store, PellowSecretString service, PellowSecretString account,
                         PellowSecretString data) {
  return run(store, service, account,
             [&](Store& s, const Key& key) { return update(s, key, data); });
}

std::int32_t addEntry(void* store, PellowSecretString service, PellowSecretString account,
                      PellowSecretString data, PellowSecretString label) {
  return run(store, service, account, [&](Store& s, const Key& key) {
    const std::optional<std::string> text = busText(label);
    if (!text) return kIOError;
    return add(s, key, data, *text);
  });
}

std::int32_t removeEntry(void* store, PellowSecretString service, PellowSecretString account) {
  return run(store, service, account, [](Store& s, const Key& key) { return remove(s, key); });
}

}  // namespace
}  // namespace pellow::secret

extern "C" __attribute__((visibility("default"))) const PellowSecretModule* pellow_secret_module_v1(
    void) {
  using namespace pellow::secret;
  static const PellowSecretModule module = {
      .abi_version = PELLOW_SECRET_ABI_VERSION,
      .open = &openStore,
      .close = &closeStore,
      .copy_data = &copyDataEntry,
      .update = &updateEntry,
      .add = &addEntry,
      .remove = &removeEntry,
      .last_reason = &lastReason,
  };
  return &module;
}
