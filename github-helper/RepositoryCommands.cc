// The repository check and the two listings that let the user choose a notes repository.
#include <cstdint>
#include <optional>
#include <string>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/api/LinkHeader.h"
#include "PellowGitHub/api/RepositoryCheck.h"
#include "PellowGitHub/api/RepositoryReference.h"
#include "PellowGitHub/support/Json.h"
#include "github-helper/Commands.h"
#include "github-helper/Listings.h"

namespace pellow {
namespace {

using json::field;
using json::isTrue;

constexpr std::size_t kPageSize = 100;

// "page": an integer, raised to 1 when below; anything else means 1.
std::int64_t requestedPage(const nlohmann::json& request) {
  const auto page = request.find("page");
  const std::optional<std::int64_t> value =
      page == request.end() ? std::nullopt : json::integer(*page);
  return value && *value >= 1 ? *value : 1;
}

// GitHub's array under `key`; a missing key, another type or any element that is not an object
// makes the whole page count as empty.
const nlohmann::json::array_t* pageElements(const nlohmann::json& page, const char* key) {
  const auto elements = page.find(key);
  if (elements == page.end()) return nullptr;
  const auto* array = elements->get_ptr<const nlohmann::json::array_t*>();
  if (array == nullptr) return nullptr;
  for (const auto& element : *array) {
    if (!element.is_object()) return nullptr;
  }
  return array;
}

// One page of a listing as GitHub answered it: getJSON's object, and whether the answer's Link
// header names a next page.
struct ListingPage {
  nlohmann::json object;
  bool linksNext = false;
};

ListingPage fetchPage(CommandContext& context, const std::string& path,
                      const GitHubCredential& credential) {
  const HTTPResult result = context.desktop.transport().send(apiRequest(path, credential));
  nlohmann::json object = classifyAPIResponse(result);
  return {std::move(object), hasNextPageLink(result.response)};
}

template <typename MakeItem>
nlohmann::json listing(const ListingPage& answer, const char* key, MakeItem makeItem) {
  const nlohmann::json& page = answer.object;
  nlohmann::json::array_t items;
  const nlohmann::json::array_t* elements = pageElements(page, key);
  const std::size_t count = elements == nullptr ? 0 : elements->size();
  if (elements != nullptr) {
    for (const auto& element : *elements) {
      if (std::optional<nlohmann::json> item = makeItem(element)) items.push_back(std::move(*item));
    }
  }
  // A full page may have a successor, whether or not its entries were usable. GitHub may also
  // answer a short page and link a next one (it drops entries the user may not see after
  // cutting the page); its Link header is the documented word on that.
  const bool hasMore = count == kPageSize || answer.linksNext;
  return {{"hasMore", hasMore}, {"items", std::move(items)}};
}

}  // namespace

std::optional<nlohmann::json> installationItem(const nlohmann::json& installation) {
  if (!installation.is_object()) return std::nullopt;
  const auto id = installation.find("id");
  const std::int64_t idValue = id == installation.end() ? 0 : json::integer(*id).value_or(0);
  const auto account = installation.find("account");
  if (idValue < 1 || account == installation.end() || !account->is_object()) {
    return std::nullopt;
  }
  const std::string* login = field<std::string>(*account, "login");
  if (login == nullptr) return std::nullopt;
  return nlohmann::json{{"id", idValue}, {"login", *login}};
}

std::optional<nlohmann::json> repositoryItem(const nlohmann::json& repository) {
  if (!repository.is_object()) return std::nullopt;
  if (isTrue(repository, "archived") || isTrue(repository, "disabled")) return std::nullopt;
  const std::string* fullName = field<std::string>(repository, "full_name");
  const std::string* defaultBranch = field<std::string>(repository, "default_branch");
  const bool* isPrivate = field<bool>(repository, "private");
  if (fullName == nullptr || !tryRepositorySlug(*fullName) || defaultBranch == nullptr ||
      isPrivate == nullptr) {
    return std::nullopt;
  }
  return nlohmann::json{
      {"defaultBranch", *defaultBranch}, {"private", *isPrivate}, {"slug", *fullName}};
}

nlohmann::json repositoryCommand(CommandContext& context, const nlohmann::json& request) {
  // A missing or non-text reference is the empty text, which the check rejects.
  const std::string* reference = field<std::string>(request, "repository");
  const CheckedRepository repository =
      context.desktop.checkRepository(reference != nullptr ? *reference : std::string_view());
  return {
      {"account", accountSummary(&repository.credential)},
      {"defaultBranch", repository.defaultBranch},
      {"id", repository.id},
      {"private", repository.isPrivate},
      {"remote", repository.remote},
      {"slug", repository.slug},
  };
}

nlohmann::json installationsCommand(CommandContext& context, const nlohmann::json& request) {
  const GitHubCredential credential = context.desktop.credential(std::nullopt);
  const std::int64_t page = requestedPage(request);
  const ListingPage answer = fetchPage(
      context, "/user/installations?per_page=100&page=" + std::to_string(page), credential);
  return listing(answer, "installations", installationItem);
}

nlohmann::json repositoriesCommand(CommandContext& context, const nlohmann::json& request) {
  const auto installation = request.find("installation");
  const std::optional<std::int64_t> installationID =
      installation == request.end() ? std::nullopt : json::integer(*installation);
  if (!installationID || *installationID < 1) throw PellowError("Choose a GitHub account first.");
  const std::int64_t page = requestedPage(request);
  const GitHubCredential credential = context.desktop.credential(std::nullopt);
  const ListingPage answer =
      fetchPage(context,
                "/user/installations/" + std::to_string(*installationID) +
                    "/repositories?per_page=100&page=" + std::to_string(page),
                credential);
  return listing(answer, "repositories", repositoryItem);
}

}  // namespace pellow
