// FakeKeychainBackend: an in-memory KeychainBackend for unit tests. It keeps items by service and
// account, behaves like the real stores (update keeps label and accessibility, add of an
// existing item fails, a missing item answers itemNotFound), records every call, and can be told
// to answer a status instead of acting.
//
//   auto backend = std::make_shared<FakeKeychainBackend>();
//   GitHubKeychain keychain("com.pemberhollo.pellow.github.v1", backend);
//   keychain.save(credential);   // nothing stored yet: update, then add
//   EXPECT_EQ(backend->operations(), (std::vector<std::string>{"update", "add"}));
//
//   backend->put("com.pemberhollo.pellow.github.v1", R"({"accessToken":"t"})");
//   backend->failing[FakeKeychainBackend::Operation::update] =
//       KeychainStatus::interactionNotAllowed;
//   EXPECT_THROW(keychain.save(credential), PellowError);
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow::testing {

class FakeKeychainBackend final : public KeychainBackend {
 public:
  enum class Operation { copyData, update, add, remove };

  struct Item {
    std::string data;
    std::string label;
    KeychainAccessibility accessibility = KeychainAccessibility::whenUnlockedThisDeviceOnly;
  };

  struct Call {
    std::string operation;  // "copyData", "update", "add", "remove"
    KeychainItemKey key;
    std::string data;  // update and add only
  };

  // Items by (service, account).
  std::map<std::pair<std::string, std::string>, Item> items;
  // Operations that answer the given status without acting.
  std::map<Operation, KeychainStatus> failing;
  // copyData finds the item but answers no data (a secret that is not plain data).
  bool copyDataWithoutData = false;
  std::vector<Call> calls;

  // Stores an item directly (not recorded as a call).
  void put(std::string_view service, std::string data, std::string label = "a label",
           std::string_view account = config::kKeychainAccount) {
    items[{std::string(service), std::string(account)}] = Item{std::move(data), std::move(label)};
  }
  const Item* find(std::string_view service,
                   std::string_view account = config::kKeychainAccount) const {
    const auto it = items.find({std::string(service), std::string(account)});
    return it == items.end() ? nullptr : &it->second;
  }
  std::vector<std::string> operations() const {
    std::vector<std::string> names;
    for (const Call& call : calls) names.push_back(call.operation);
    return names;
  }

  KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) override {
    calls.push_back({"copyData", key, {}});
    data.reset();
    if (auto status = forced(Operation::copyData)) return *status;
    const Item* item = find(key.service, key.account);
    if (item == nullptr) return KeychainStatus::itemNotFound;
    if (!copyDataWithoutData) data = item->data;
    return KeychainStatus::success;
  }

  KeychainStatus update(const KeychainItemKey& key, std::string_view data) override {
    calls.push_back({"update", key, std::string(data)});
    if (auto status = forced(Operation::update)) return *status;
    const auto it = items.find({key.service, key.account});
    if (it == items.end()) return KeychainStatus::itemNotFound;
    it->second.data.assign(data);
    return KeychainStatus::success;
  }

  KeychainStatus add(const KeychainItemKey& key, std::string_view data, std::string_view label,
                     KeychainAccessibility accessibility) override {
    calls.push_back({"add", key, std::string(data)});
    if (auto status = forced(Operation::add)) return *status;
    const auto [it, added] = items.try_emplace(
        {key.service, key.account}, Item{std::string(data), std::string(label), accessibility});
    return added ? KeychainStatus::success : KeychainStatus::ioError;
  }

  KeychainStatus remove(const KeychainItemKey& key) override {
    calls.push_back({"remove", key, {}});
    if (auto status = forced(Operation::remove)) return *status;
    return items.erase({key.service, key.account}) == 1 ? KeychainStatus::success
                                                        : KeychainStatus::itemNotFound;
  }

 private:
  std::optional<KeychainStatus> forced(Operation operation) const {
    const auto it = failing.find(operation);
    if (it == failing.end()) return std::nullopt;
    return it->second;
  }
};

}  // namespace pellow::testing
