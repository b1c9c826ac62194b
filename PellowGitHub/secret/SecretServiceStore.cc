// pellow-secret.so: the keychain item in the desktop keyring, through libsecret.
//
// One item per service with the attributes "service" and "account", in the default collection.
// No call may show a prompt: searches never ask to unlock, and an item or collection that is
// locked answers "interaction not allowed" before anything is sent that the service could answer
// with a prompt. Every call is bounded by the store's time budget (GLibSupport.h), so a daemon
// that hangs or waits for the user costs at most that budget.
#include <libsecret/secret.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/secret/GLibSupport.h"
#include "PellowGitHub/secret/SecretModuleABI.h"

namespace pellow::secret {
namespace {

constexpr const char* kSecretServiceBusName = "org.freedesktop.secrets";
constexpr std::int32_t kSuccess = PELLOW_SECRET_SUCCESS;
constexpr std::int32_t kItemNotFound = PELLOW_SECRET_ITEM_NOT_FOUND;
constexpr std::int32_t kInteractionNotAllowed = PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
constexpr std::int32_t kIOError = PELLOW_SECRET_IO_ERROR;

// Our own schema, but matched by attributes only: an item that another tool stored for the same
// service and account (secret-tool, a hand-made bare token) is the same item, as it would be in
// a keychain whose query names only class, service and account.
const SecretSchema* credentialSchema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "com.pemberhollo.pellow.GitHubCredential";
    s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    s.attributes[0].name = "service";
    s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    s.attributes[1].name = "account";
    s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    return s;
  }();
  return &schema;
}

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

struct Store {
  explicit Store(std::int64_t budgetMicroseconds)
      : context(moduleContext()), budget(budgetMicroseconds) {}
  ~Store() {
    ThreadDefaultContext current(context);
    service.reset();
    dispatchPendingEvents(context);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  GMainContext* context;
  TimeBudget budget;
  GObjectPtr<SecretService> service;
  // Without a service: the status every call answers.
  std::int32_t failure = kIOError;
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

GHashTablePtr attributesFor(const std::string& service, const std::string& account) {
  GHashTablePtr attributes(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free));
  g_hash_table_insert(attributes.get(), const_cast<char*>("service"), g_strdup(service.c_str()));
  g_hash_table_insert(attributes.get(), const_cast<char*>("account"), g_strdup(account.c_str()));
  return attributes;
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

// The status for a failed call; a null error means the call ran out of time, which only a
// prompt or a stuck service explains.
std::int32_t statusOf(GError* error) {
  const GErrorPtr owned(error);
  if (error == nullptr) return kInteractionNotAllowed;
  if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED) {
    return kInteractionNotAllowed;
  }
  return kIOError;
}

struct Key {
  std::string service;
  std::string account;
};

std::optional<Key> keyOf(PellowSecretString service, PellowSecretString account) {
  std::optional<std::string> s = busText(service);
  std::optional<std::string> a = busText(account);
  if (!s || !a) return std::nullopt;
  return Key{std::move(*s), std::move(*a)};
}

std::int32_t search(Store& store, const Key& key, SecretSearchFlags flags, GObjectListPtr& items) {
  const GHashTablePtr attributes = attributesFor(key.service, key.account);
  AsyncDeadline deadline(store.context, store.budget);
  const GObjectPtr<GAsyncResult> result =
      deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        // Without SECRET_SEARCH_UNLOCK: a locked item comes back locked, never as a prompt.
        secret_service_search(store.service.get(), credentialSchema(), attributes.get(), flags,
                              cancellable, callback, data);
      });
  if (!result) return statusOf(nullptr);
  GError* error = nullptr;
  items.reset(secret_service_search_finish(store.service.get(), result.get(), &error));
  if (error != nullptr) return statusOf(error);
  return kSuccess;
}

bool anyLocked(GList* items) {
  for (GList* node = items; node != nullptr; node = node->next) {
    if (secret_item_get_locked(static_cast<SecretItem*>(node->data))) return true;
  }
  return false;
}

std::int32_t copyData(Store& store, const Key& key, void* context,
                      void (*dataOut)(void*, PellowSecretString)) {
  GObjectListPtr items;
  // Without SECRET_SEARCH_ALL the search answers one item, an unlocked one when there is one.
  const std::int32_t status = search(store, key, SECRET_SEARCH_LOAD_SECRETS, items);
  if (status != kSuccess) return status;
  if (!items) return kItemNotFound;
  auto* item = static_cast<SecretItem*>(items->data);
  if (secret_item_get_locked(item)) return kInteractionNotAllowed;
  const SecretValuePtr value(secret_item_get_secret(item));
  if (value) {
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    dataOut(context, PellowSecretString{bytes, length});
  }
  return kSuccess;
}

std::int32_t update(Store& store, const Key& key, PellowSecretString data) {
  GObjectListPtr items;
  const std::int32_t status = search(store, key, SECRET_SEARCH_ALL, items);
  if (status != kSuccess) return status;
  if (!items) return kItemNotFound;
  if (anyLocked(items.get())) return kInteractionNotAllowed;
  const SecretValuePtr value = secretValue(data);
  for (GList* node = items.get(); node != nullptr; node = node->next) {
    auto* item = static_cast<SecretItem*>(node->data);
    AsyncDeadline deadline(store.context, store.budget);
    const GObjectPtr<GAsyncResult> result =
        deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
          secret_item_set_secret(item, value.get(), cancellable, callback, d);
        });
    if (!result) return statusOf(nullptr);
    GError* error = nullptr;
    if (!secret_item_set_secret_finish(item, result.get(), &error)) return statusOf(error);
  }
  return kSuccess;
}

std::int32_t add(Store& store, const Key& key, PellowSecretString data, const std::string& label) {
  // Like a keychain, the store holds one item per key: adding beside an existing one is refused.
  GObjectListPtr existing;
  const std::int32_t status = search(store, key, SECRET_SEARCH_NONE, existing);
  if (status != kSuccess) return status;
  if (existing) return kIOError;

  AsyncDeadline deadline(store.context, store.budget);
  GObjectPtr<GAsyncResult> result =
      deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
        secret_collection_for_alias(store.service.get(), SECRET_COLLECTION_DEFAULT,
                                    SECRET_COLLECTION_NONE, cancellable, callback, d);
      });
  if (!result) return statusOf(nullptr);
  GError* error = nullptr;
  const GObjectPtr<SecretCollection> collection(
      secret_collection_for_alias_finish(result.get(), &error));
  if (error != nullptr) return statusOf(error);
  if (!collection) return kIOError;  // no default collection to store into
  // Creating an item in a locked collection would ask the user to unlock it.
  if (secret_collection_get_locked(collection.get())) return kInteractionNotAllowed;

  const GHashTablePtr attributes = attributesFor(key.service, key.account);
  const SecretValuePtr value = secretValue(data);
  result = deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
    secret_item_create(collection.get(), credentialSchema(), attributes.get(), label.c_str(),
                       value.get(), SECRET_ITEM_CREATE_NONE, cancellable, callback, d);
  });
  if (!result) return statusOf(nullptr);
  const GObjectPtr<SecretItem> item(secret_item_create_finish(result.get(), &error));
  if (!item) return statusOf(error);
  return kSuccess;
}

std::int32_t remove(Store& store, const Key& key) {
  GObjectListPtr items;
  const std::int32_t status = search(store, key, SECRET_SEARCH_ALL, items);
  if (status != kSuccess) return status;
  if (!items) return kItemNotFound;
  if (anyLocked(items.get())) return kInteractionNotAllowed;
  for (GList* node = items.get(); node != nullptr; node = node->next) {
    auto* item = static_cast<SecretItem*>(node->data);
    AsyncDeadline deadline(store.context, store.budget);
    const GObjectPtr<GAsyncResult> result =
        deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
          secret_item_delete(item, cancellable, callback, d);
        });
    if (!result) return statusOf(nullptr);
    GError* error = nullptr;
    if (!secret_item_delete_finish(item, result.get(), &error)) return statusOf(error);
  }
  return kSuccess;
}

// Whether a Secret Service owns its name on the bus now. NO_AUTO_START: a service that is only
// activatable must not be started by us (on a server it would come up with a locked keyring).
bool secretServiceRunning(AsyncDeadline& deadline, GDBusConnection* connection) {
  const GObjectPtr<GAsyncResult> result =
      deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
        g_dbus_connection_call(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner",
                               g_variant_new("(s)", kSecretServiceBusName), G_VARIANT_TYPE("(b)"),
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, cancellable, callback, d);
      });
  if (!result) return false;
  GError* error = nullptr;
  const GVariantPtr reply(g_dbus_connection_call_finish(connection, result.get(), &error));
  if (!reply) {
    g_clear_error(&error);
    return false;
  }
  gboolean owned = FALSE;
  g_variant_get(reply.get(), "(b)", &owned);
  return owned != FALSE;
}

void* openStore(std::int64_t budgetMilliseconds) noexcept {
  try {
    silenceGLibOnce();
    auto store = std::make_unique<Store>(budgetMilliseconds * 1000);
    ThreadDefaultContext current(store->context);
    dispatchPendingEvents(store->context);
    AsyncDeadline deadline(store->context, store->budget);

    GObjectPtr<GAsyncResult> result =
        deadline.await([](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
          g_bus_get(G_BUS_TYPE_SESSION, cancellable, callback, d);
        });
    if (!result) return nullptr;
    GError* error = nullptr;
    const GObjectPtr<GDBusConnection> connection(g_bus_get_finish(result.get(), &error));
    if (!connection || g_dbus_connection_is_closed(connection.get())) {
      g_clear_error(&error);
      return nullptr;
    }
    // GLib ends the process when the shared session connection closes; a keyring daemon that
    // goes away must turn into a failed call instead.
    g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
    if (!secretServiceRunning(deadline, connection.get())) return nullptr;

    result =
        deadline.await([](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer d) {
          secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, cancellable,
                              callback, d);
        });
    // From here on the keyring is the user's store even when it does not answer: falling back
    // to the file store would split the credential between two places.
    if (!result) {
      store->failure = kInteractionNotAllowed;
      return store.release();
    }
    store->service.reset(secret_service_open_finish(result.get(), &error));
    if (!store->service) store->failure = statusOf(error);
    return store.release();
  } catch (...) {
    return nullptr;
  }
}

void closeStore(void* store) noexcept { delete static_cast<Store*>(store); }

// The entry points below share one shape: check the arguments, make the store's context the
// current one, run the operation, and turn anything thrown into an I/O error.
template <typename Operation>
std::int32_t run(void* opaque, PellowSecretString service, PellowSecretString account,
                 Operation operation) noexcept {
  try {
    auto* store = static_cast<Store*>(opaque);
    const std::optional<Key> key = keyOf(service, account);
    if (store == nullptr || !key) return kIOError;
    if (!store->service) return store->failure;
    ThreadDefaultContext current(store->context);
    return operation(*store, *key);
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
  };
  return &module;
}
