// Pair keys, the stored-file pair decision, and the three changes that users' answers make.

#include "VeltraSuiteSetup/PairRules.h"

#include <algorithm>
#include <chrono>

#include "VeltraSuiteSetup/Catalogue.h"

namespace veltra {
namespace {

bool contains(const std::vector<std::string>& list, const std::string& key) {
  return std::find(list.begin(), list.end(), key) != list.end();
}

void appendOnce(std::vector<std::string>& list, const std::string& key) {
  if (!contains(list, key)) list.push_back(key);
}

void removeAll(std::vector<std::string>& list, const std::string& key) {
  list.erase(std::remove(list.begin(), list.end(), key), list.end());
}

double nowInMilliseconds() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(sinceEpoch).count() * 1000.0;
}

}  // namespace

std::string VeltraSuiteSetup::pair(std::string_view a, std::string_view b) {
  // std::string_view compares by char_traits<char>, i.e. as unsigned bytes: for UTF-8 text that
  // is code-point order.
  const auto [first, second] = std::minmax(a, b);
  std::string key;
  key.reserve(first.size() + second.size() + 1);
  key.append(first).append("|").append(second);
  return key;
}

bool VeltraSuiteSetup::permits(std::string_view local, std::string_view remote,
                               const std::filesystem::path& executable,
                               const std::filesystem::path& registry) {
  try {
    const VeltraSuiteConsent record = read(registry);
    if (!record.permits(local, remote, team())) return false;
    return verified(executable, remote);
  } catch (...) {
    return false;
  }
}

void VeltraSuiteSetup::approvePair(std::string_view local, std::string_view remote,
                                   const std::filesystem::path& registry) {
  if (local == remote || !isCatalogueApp(local) || !isCatalogueApp(remote)) {
    throw cocoaError(
        CocoaError::fileReadNoPermission, registry,
        "not a pair of two suite apps: " + std::string(local) + ", " + std::string(remote));
  }
  const std::string key = pair(local, remote);
  update(registry, [&key](VeltraSuiteConsent& record) {
    if (!record.removedPairs) record.removedPairs = record.blockedPairs;
    if (!record.enabled) {
      // The suite is being switched on by this one pair: every other pair stays closed.
      record.pairOnly = true;
      const auto& ids = sortedCatalogueIds();
      for (std::size_t i = 0; i < ids.size(); ++i) {
        for (std::size_t j = i + 1; j < ids.size(); ++j) {
          const std::string other = pair(ids[i], ids[j]);
          if (other != key) appendOnce(record.blockedPairs, other);
        }
      }
    }
    record.enabled = true;
    std::vector<std::string> approved = record.approvedPairs.value_or(std::vector<std::string>{});
    appendOnce(approved, key);
    record.approvedPairs = std::move(approved);
    removeAll(record.blockedPairs, key);
    removeAll(*record.removedPairs, key);
    record.approvedAt = nowInMilliseconds();
  });
}

void VeltraSuiteSetup::block(std::string_view local, std::string_view remote,
                             const std::filesystem::path& registry) {
  const std::string key = pair(local, remote);
  update(registry, [&key](VeltraSuiteConsent& record) {
    std::vector<std::string> removed = record.removedPairs.value_or(record.blockedPairs);
    appendOnce(removed, key);
    record.removedPairs = std::move(removed);
    appendOnce(record.blockedPairs, key);
  });
}

bool VeltraSuiteSetup::isBlocked(std::string_view local, std::string_view remote,
                                 const std::filesystem::path& registry) {
  const VeltraSuiteConsent record = read(registry);
  const auto& list = record.removedPairs ? *record.removedPairs : record.blockedPairs;
  return contains(list, pair(local, remote));
}

ConsentChange VeltraSuiteSetup::applySuiteAnswer(bool accepted, std::string installedSetKey,
                                                 bool clearBlocked) {
  return [accepted, key = std::move(installedSetKey), clearBlocked](VeltraSuiteConsent& record) {
    record.enabled = accepted;
    if (!accepted) {
      record.declinedSet = key;
      return;
    }
    record.declinedSet.reset();
    record.approvedAt = nowInMilliseconds();
    if (clearBlocked) record.blockedPairs.clear();
  };
}

}  // namespace veltra
