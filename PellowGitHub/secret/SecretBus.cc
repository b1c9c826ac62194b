#include "PellowGitHub/secret/SecretBus.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "PellowGitHub/secret/SecretModuleABI.h"

namespace pellow::secret {
namespace {

constexpr const char* kBusName = "org.freedesktop.secrets";
constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kCollectionInterface = "org.freedesktop.Secret.Collection";
constexpr const char* kItemInterface = "org.freedesktop.Secret.Item";
constexpr const char* kPromptInterface = "org.freedesktop.Secret.Prompt";
// What a dismissal may take once the budget is spent: the prompt must not outlive the helper.
constexpr std::int64_t kDismissGrace = 500 * 1000;

std::int32_t statusOfError(GError* error) {
  const GErrorPtr owned(error);
  if (error == nullptr) return PELLOW_SECRET_IO_ERROR;
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
    return PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  }
  gchar* remote = g_dbus_error_get_remote_error(error);
  const std::string name = remote == nullptr ? "" : remote;
  g_free(remote);
  if (name == "org.freedesktop.Secret.Error.IsLocked") return PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
      name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
    return kSecretNoService;
  }
  if (name == "org.freedesktop.Secret.Error.NoSuchObject" ||
      name == "org.freedesktop.DBus.Error.UnknownObject" ||
      name == "org.freedesktop.DBus.Error.UnknownMethod") {
    return PELLOW_SECRET_ITEM_NOT_FOUND;
  }
  return PELLOW_SECRET_IO_ERROR;
}

GVariant* attributeDictionary(const std::map<std::string, std::string>& attributes) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
  for (const auto& [name, value] : attributes) {
    g_variant_builder_add(&builder, "{ss}", name.c_str(), value.c_str());
  }
  return g_variant_builder_end(&builder);
}

// The state of one prompt between Prompt() and its Completed signal.
struct PromptWait {
  bool completed = false;
  bool dismissed = true;

  static void onCompleted(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
    auto* self = static_cast<PromptWait*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bv)"))) return;
    gboolean dismissed = TRUE;
    g_variant_get_child(parameters, 0, "b", &dismissed);
    self->dismissed = dismissed != FALSE;
    self->completed = true;
  }
};

}  // namespace

std::int32_t SecretBus::call(const std::string& path, const char* interface, const char* method,
                             GVariant* parameters, const GVariantType* replyType,
                             GVariantPtr& reply, const char* destination) {
  const char* target = destination == nullptr ? kBusName : destination;
  // The call takes the floating reference; it is sunk here in case it is never started.
  const GVariantPtr arguments(parameters == nullptr ? nullptr : g_variant_ref_sink(parameters));
  AsyncDeadline deadline(context_, budget_);
  const GObjectPtr<GAsyncResult> result =
      deadline.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
        // NO_AUTO_START: a service that went away must not be started again by asking it.
        g_dbus_connection_call(connection_, target, path.c_str(), interface, method,
                               arguments.get(), replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                               cancellable, callback, data);
      });
  if (!result) return PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  GError* error = nullptr;
  reply.reset(g_dbus_connection_call_finish(connection_, result.get(), &error));
  if (!reply) return statusOfError(error);
  return PELLOW_SECRET_SUCCESS;
}

std::int32_t SecretBus::readDefaultAlias(std::string& collection) {
  GVariantPtr reply;
  const std::int32_t status = call(kServicePath, kServiceInterface, "ReadAlias",
                                   g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  const gchar* path = nullptr;
  g_variant_get(reply.get(), "(&o)", &path);
  collection = path;
  return PELLOW_SECRET_SUCCESS;
}

std::int32_t SecretBus::nameOwner(const char* name, std::string& owner) {
  GVariantPtr reply;
  const std::int32_t status =
      call("/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
           g_variant_new("(s)", name), G_VARIANT_TYPE("(s)"), reply, "org.freedesktop.DBus");
  if (status != PELLOW_SECRET_SUCCESS) return status;
  const gchar* unique = nullptr;
  g_variant_get(reply.get(), "(&s)", &unique);
  owner = unique;
  return PELLOW_SECRET_SUCCESS;
}

std::int32_t SecretBus::collectionProperty(const std::string& collection, const char* name,
                                           const GVariantType* type, GVariantPtr& value) {
  GVariantPtr reply;
  const std::int32_t status =
      call(collection, "org.freedesktop.DBus.Properties", "Get",
           g_variant_new("(ss)", kCollectionInterface, name), G_VARIANT_TYPE("(v)"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  GVariant* boxed = nullptr;
  g_variant_get(reply.get(), "(v)", &boxed);
  value.reset(boxed);
  return g_variant_is_of_type(value.get(), type) ? PELLOW_SECRET_SUCCESS : PELLOW_SECRET_IO_ERROR;
}

std::int32_t SecretBus::label(const std::string& collection, std::string& label) {
  GVariantPtr value;
  const std::int32_t status = collectionProperty(collection, "Label", G_VARIANT_TYPE_STRING, value);
  if (status == PELLOW_SECRET_SUCCESS) label = g_variant_get_string(value.get(), nullptr);
  return status;
}

std::int32_t SecretBus::unlock(const std::string& collection) {
  const gchar* objects[] = {collection.c_str(), nullptr};
  GVariantPtr reply;
  const std::int32_t status =
      call(kServicePath, kServiceInterface, "Unlock",
           g_variant_new("(@ao)", g_variant_new_objv(objects, -1)), G_VARIANT_TYPE("(aoo)"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  const gchar* prompt = nullptr;
  g_variant_get(reply.get(), "(@ao&o)", nullptr, &prompt);
  return perform(prompt);
}

std::int32_t SecretBus::locked(const std::string& collection, bool& locked) {
  locked = true;
  GVariantPtr value;
  const std::int32_t status =
      collectionProperty(collection, "Locked", G_VARIANT_TYPE_BOOLEAN, value);
  if (status == PELLOW_SECRET_SUCCESS) locked = g_variant_get_boolean(value.get()) != FALSE;
  return status;
}

std::int32_t SecretBus::search(const std::string& collection,
                               const std::map<std::string, std::string>& attributes,
                               std::vector<std::string>& items) {
  items.clear();
  GVariantPtr reply;
  const std::int32_t status = call(collection, kCollectionInterface, "SearchItems",
                                   g_variant_new("(@a{ss})", attributeDictionary(attributes)),
                                   G_VARIANT_TYPE("(ao)"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  GVariantIter* iterator = nullptr;
  g_variant_get(reply.get(), "(ao)", &iterator);
  const gchar* path = nullptr;
  while (g_variant_iter_next(iterator, "&o", &path)) items.emplace_back(path);
  g_variant_iter_free(iterator);
  return PELLOW_SECRET_SUCCESS;
}

std::int32_t SecretBus::getSecret(const std::string& item, const std::string& session,
                                  GVariantPtr& secret) {
  GVariantPtr reply;
  const std::int32_t status =
      call(item, kItemInterface, "GetSecret", g_variant_new("(o)", session.c_str()),
           G_VARIANT_TYPE("((oayays))"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  secret.reset(g_variant_get_child_value(reply.get(), 0));
  return PELLOW_SECRET_SUCCESS;
}

std::int32_t SecretBus::setSecret(const std::string& item, GVariant* secret) {
  GVariantPtr reply;
  return call(item, kItemInterface, "SetSecret", g_variant_new("(@(oayays))", secret), nullptr,
              reply);
}

std::int32_t SecretBus::createItem(const std::string& collection, const std::string& label,
                                   const std::map<std::string, std::string>& attributes,
                                   GVariant* secret) {
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Label",
                        g_variant_new_string(label.c_str()));
  g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                        attributeDictionary(attributes));
  GVariantPtr reply;
  const std::int32_t status = call(collection, kCollectionInterface, "CreateItem",
                                   g_variant_new("(a{sv}@(oayays)b)", &properties, secret, FALSE),
                                   G_VARIANT_TYPE("(oo)"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  const gchar* prompt = nullptr;
  g_variant_get(reply.get(), "(&o&o)", nullptr, &prompt);
  return perform(prompt);
}

std::int32_t SecretBus::deleteItem(const std::string& item) {
  GVariantPtr reply;
  const std::int32_t status =
      call(item, kItemInterface, "Delete", nullptr, G_VARIANT_TYPE("(o)"), reply);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  const gchar* prompt = nullptr;
  g_variant_get(reply.get(), "(&o)", &prompt);
  return perform(prompt);
}

std::int32_t SecretBus::perform(const std::string& path) {
  if (path == "/") return PELLOW_SECRET_SUCCESS;
  // Subscribed before the prompt runs, so that a prompt that completes at once is not missed.
  auto wait = std::make_unique<PromptWait>();
  const guint subscription = g_dbus_connection_signal_subscribe(
      connection_, kBusName, kPromptInterface, "Completed", path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, &PromptWait::onCompleted, wait.get(), nullptr);

  GVariantPtr reply;
  std::int32_t status =
      call(path, kPromptInterface, "Prompt", g_variant_new("(s)", ""), nullptr, reply);
  if (status == PELLOW_SECRET_SUCCESS) iterateUntil(context_, wait->completed, budget_);
  if (!wait->completed &&
      (status == PELLOW_SECRET_SUCCESS || status == PELLOW_SECRET_INTERACTION_NOT_ALLOWED)) {
    // The service waits for the user: take the question back rather than leave it behind.
    TimeBudget grace(kDismissGrace);
    SecretBus(connection_, context_, grace)
        .call(path, kPromptInterface, "Dismiss", nullptr, nullptr, reply);
    status = PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  } else if (status == PELLOW_SECRET_SUCCESS && wait->dismissed) {
    status = PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  }
  g_dbus_connection_signal_unsubscribe(connection_, subscription);
  return status;
}

}  // namespace pellow::secret
