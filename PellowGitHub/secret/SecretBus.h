// SecretBus: the Secret Service's own D-Bus methods, called directly on the session connection,
// each bounded by the store's time budget. Only methods that can never ask the user anything are
// offered, plus perform(), which runs a prompt that the service returned for a change the helper
// asked for and dismisses it when the budget runs out.
//
//   SecretBus bus(connection, context, budget);
//   std::string home;
//   bool locked = true;
//   if (bus.readDefaultAlias(home) != kSuccess || bus.locked(home, locked) != kSuccess) ...
//   if (locked) return kInteractionNotAllowed;    // never search a locked collection
//   std::vector<std::string> items;
//   bus.search(home, attributes, items);
//
// Statuses are those of SecretModuleABI.h: a call that does not answer within the budget gives
// PELLOW_SECRET_INTERACTION_NOT_ALLOWED (only a prompt or a stuck service explains it); the
// service's IsLocked error too; NoSuchObject (an item deleted meanwhile) gives
// PELLOW_SECRET_ITEM_NOT_FOUND; no service owning its name (nothing is started: every call is
// made without auto-start) kSecretNoService; anything else PELLOW_SECRET_IO_ERROR.
//
// Single-threaded; the connection, context and budget must outlive the object.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "PellowGitHub/secret/GLibSupport.h"

namespace pellow::secret {

// The status of a call that found nothing owning the service's name. Module-internal: never
// answered through the module's interface.
inline constexpr std::int32_t kSecretNoService = -1;

class SecretBus {
 public:
  SecretBus(GDBusConnection* connection, GMainContext* context, TimeBudget& budget)
      : connection_(connection), context_(context), budget_(budget) {}

  // The collection that the "default" alias names ("/" when there is none), and a collection's
  // Locked property. Neither call can prompt: ReadAlias and a property read only report.
  std::int32_t readDefaultAlias(std::string& collection);
  std::int32_t locked(const std::string& collection, bool& locked);

  // The items of `collection` whose attributes include all of `attributes`. Call only on an
  // unlocked collection: a locked KeePassXC database answers nothing, and a search of the whole
  // service would ask to unlock it first.
  std::int32_t search(const std::string& collection,
                      const std::map<std::string, std::string>& attributes,
                      std::vector<std::string>& items);

  // Item.GetSecret / Item.SetSecret with a secret in the session's transport form (oayays).
  std::int32_t getSecret(const std::string& item, const std::string& session, GVariantPtr& secret);
  std::int32_t setSecret(const std::string& item, GVariant* secret);

  // Collection.CreateItem (never replacing) and Item.Delete, each with the prompt that the
  // service may return performed through perform().
  std::int32_t createItem(const std::string& collection, const std::string& label,
                          const std::map<std::string, std::string>& attributes, GVariant* secret);
  std::int32_t deleteItem(const std::string& item);

  // Runs the prompt at `path` ("/" means none) and waits for its Completed signal within the
  // budget. Dismissed, or not completed in time (it waits for the user): the prompt is dismissed
  // and the answer is PELLOW_SECRET_INTERACTION_NOT_ALLOWED.
  std::int32_t perform(const std::string& path);

  // Service.Unlock of one collection, with its prompt performed. Only for a provider known to
  // unlock without asking anyone (KWalletUnlock.h): elsewhere the prompt would be a password
  // dialog.
  std::int32_t unlock(const std::string& collection);

  // The unique name that owns the well-known `name` on the bus; kSecretNoService when none does.
  std::int32_t nameOwner(const char* name, std::string& owner);
  // A collection's Label property.
  std::int32_t label(const std::string& collection, std::string& label);

  // One method call to `destination` (the Secret Service when null); `reply` holds the answer on
  // success.
  std::int32_t call(const std::string& path, const char* interface, const char* method,
                    GVariant* parameters, const GVariantType* replyType, GVariantPtr& reply,
                    const char* destination = nullptr);

 private:
  // A property of a collection, checked to be of `type`.
  std::int32_t collectionProperty(const std::string& collection, const char* name,
                                  const GVariantType* type, GVariantPtr& value);

  GDBusConnection* connection_;
  GMainContext* context_;
  TimeBudget& budget_;
};

}  // namespace pellow::secret
