// The "installations" and "repositories" operations: pages, items and the skipping rules.
#include <gtest/gtest.h>

#include <string>

#include "DesktopTest.h"
#include "PellowGitHub/PellowError.h"
#include "github-helper/Commands.h"
#include "github-helper/Listings.h"
#include "tests/github/GitHubTestSupport.h"

namespace pellow::testing {
namespace {

nlohmann::json installation(std::int64_t id, const std::string& login) {
  return {{"id", id}, {"account", {{"login", login}, {"type", "User"}}}, {"app_id", 1}};
}

nlohmann::json repository(const std::string& fullName) {
  return {{"id", 1},         {"full_name", fullName}, {"default_branch", "main"},
          {"private", true}, {"archived", false},     {"disabled", false}};
}

std::string requestedPath(const FakeTransport& transport) {
  const std::string url = transport.requests().back().url;
  return url.substr(config::apiBaseURL().size());
}

TEST(ListingItems, InstallationRules) {
  const struct {
    nlohmann::json object;
    std::optional<nlohmann::json> item;
  } cases[] = {
      {installation(7, "octo"), nlohmann::json{{"id", 7}, {"login", "octo"}}},
      {installation(0, "octo"), std::nullopt},
      {installation(-1, "octo"), std::nullopt},
      {{{"id", 7.0}, {"account", {{"login", "octo"}}}},
       nlohmann::json{{"id", 7}, {"login", "octo"}}},
      {{{"id", "7"}, {"account", {{"login", "octo"}}}}, std::nullopt},
      {{{"id", 7}}, std::nullopt},
      {{{"id", 7}, {"account", nullptr}}, std::nullopt},
      {{{"id", 7}, {"account", "octo"}}, std::nullopt},
      {{{"id", 7}, {"account", {{"name", "octo"}}}}, std::nullopt},
      {{{"id", 7}, {"account", {{"login", 3}}}}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(installationItem(c.object), c.item) << c.object;
}

TEST(ListingItems, RepositoryRules) {
  const nlohmann::json valid{{"defaultBranch", "main"}, {"private", true}, {"slug", "o/n"}};
  auto with = [](const char* key, nlohmann::json value) {
    nlohmann::json r = repository("o/n");
    r[key] = std::move(value);
    return r;
  };
  auto without = [](const char* key) {
    nlohmann::json r = repository("o/n");
    r.erase(key);
    return r;
  };
  const struct {
    nlohmann::json object;
    std::optional<nlohmann::json> item;
  } cases[] = {
      {repository("o/n"), valid},
      {with("archived", true), std::nullopt},
      {with("disabled", true), std::nullopt},
      {with("archived", nullptr), valid},
      {with("archived", "true"), valid},
      {without("archived"), valid},
      {with("permissions", {{"push", false}}), valid},  // push is not looked at here
      {with("full_name", "mona-cat_octo/notes"),        // a managed user's own repository
       nlohmann::json{
           {"defaultBranch", "main"}, {"private", true}, {"slug", "mona-cat_octo/notes"}}},
      {with("full_name", "o/n/x"), std::nullopt},
      {with("full_name", "o"), std::nullopt},
      {with("full_name", 5), std::nullopt},
      {without("full_name"), std::nullopt},
      // Kept as GitHub wrote it, even where the reference rules would tidy it.
      {with("full_name", "Octo/Name.git"),
       nlohmann::json{{"defaultBranch", "main"}, {"private", true}, {"slug", "Octo/Name.git"}}},
      {with("default_branch", nullptr), std::nullopt},
      {without("default_branch"), std::nullopt},
      {with("private", 0), std::nullopt},
      {without("private"), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(repositoryItem(c.object), c.item) << c.object;
}

TEST_F(DesktopTest, InstallationsPages) {
  storeCredential(42);
  // GitHub's documented example page.
  transport->respond(200, fixture("installations.json"));
  EXPECT_EQ(installationsCommand(context, {{"operation", "installations"}}),
            nlohmann::json::parse(R"({"hasMore":false,"items":[{"id":1,"login":"octocat"},)"
                                  R"({"id":3,"login":"octocat"}]})"));

  const struct {
    std::size_t valid;
    std::size_t skipped;
    bool hasMore;
  } pages[] = {{0, 0, false}, {99, 0, false}, {100, 0, true}, {97, 3, true}, {98, 3, false}};
  for (const auto& page : pages) {
    nlohmann::json elements = nlohmann::json::array();
    for (std::size_t i = 0; i < page.valid + page.skipped; ++i) {
      const auto id = static_cast<std::int64_t>(i + 1);
      elements.push_back(i % 10 == 5 && i / 10 < page.skipped ? installation(0, "skipped")
                                                              : installation(id, "acct"));
    }
    transport->respond(200, nlohmann::json{{"installations", elements}}.dump());
    const nlohmann::json payload = installationsCommand(context, {{"operation", "installations"}});
    EXPECT_EQ(payload["hasMore"], page.hasMore) << page.valid << "+" << page.skipped;
    EXPECT_EQ(payload["items"].size(), page.valid) << page.valid << "+" << page.skipped;
  }
}

TEST_F(DesktopTest, PageNumbers) {
  storeCredential(42);
  const struct {
    nlohmann::json page;  // null: not given
    std::string query;
  } cases[] = {
      {nullptr, "page=1"}, {0, "page=1"},
      {-3, "page=1"},      {"2", "page=1"},
      {2.5, "page=1"},     {true, "page=1"},
      {2, "page=2"},       {2.0, "page=2"},
      {1e3, "page=1000"},  {9007199254740993LL, "page=9007199254740993"},
  };
  for (const auto& c : cases) {
    nlohmann::json request{{"operation", "installations"}};
    if (!c.page.is_null()) request["page"] = c.page;
    transport->respond(200, R"({"installations":[]})");
    installationsCommand(context, request);
    EXPECT_EQ(requestedPath(*transport), "/user/installations?per_page=100&" + c.query) << c.page;

    request["operation"] = "repositories";
    request["installation"] = 31;
    transport->respond(200, R"({"repositories":[]})");
    repositoriesCommand(context, request);
    EXPECT_EQ(requestedPath(*transport),
              "/user/installations/31/repositories?per_page=100&" + c.query)
        << c.page;
  }
}

TEST_F(DesktopTest, PagesThatCountAsEmpty) {
  storeCredential(42);
  const nlohmann::json empty{{"hasMore", false}, {"items", nlohmann::json::array()}};
  for (const char* body : {R"({})", R"({"installations":null})", R"({"installations":{}})",
                           R"({"installations":[{"id":1,"account":{"login":"a"}},7]})"}) {
    transport->respond(200, body);
    EXPECT_EQ(installationsCommand(context, {{"operation", "installations"}}), empty) << body;
  }
  // One non-object among 100 elements makes the page empty, "hasMore" included.
  nlohmann::json elements = nlohmann::json::array();
  for (int i = 0; i < 99; ++i) elements.push_back(repository("o/n"));
  elements.push_back("o/n");
  transport->respond(200, nlohmann::json{{"repositories", elements}}.dump());
  EXPECT_EQ(repositoriesCommand(context, {{"operation", "repositories"}, {"installation", 1}}),
            empty);
  transport->respond(200, R"({"total_count":0})");
  EXPECT_EQ(repositoriesCommand(context, {{"operation", "repositories"}, {"installation", 1}}),
            empty);
}

TEST_F(DesktopTest, RepositoriesListing) {
  storeCredential(42);
  transport->respond(200, fixture("installation-repositories.json"));
  EXPECT_EQ(repositoriesCommand(context, {{"operation", "repositories"}, {"installation", 1}}),
            nlohmann::json::parse(R"({"hasMore":false,"items":[{"defaultBranch":"master",)"
                                  R"("private":false,"slug":"octocat/Hello-World"}]})"));

  nlohmann::json archived = repository("o/archived");
  archived["archived"] = true;
  nlohmann::json archivedNull = repository("o/archived-null");
  archivedNull["archived"] = nullptr;
  nlohmann::json elements = nlohmann::json::array({archived, archivedNull, repository("o/a/b")});
  for (int i = 0; i < 97; ++i) elements.push_back(repository("o/r" + std::to_string(i)));
  transport->respond(200, nlohmann::json{{"repositories", elements}}.dump());
  const nlohmann::json payload =
      repositoriesCommand(context, {{"operation", "repositories"}, {"installation", 1}});
  EXPECT_EQ(payload["hasMore"], true);
  ASSERT_EQ(payload["items"].size(), 98u);
  EXPECT_EQ(payload["items"][0]["slug"], "o/archived-null");
  EXPECT_EQ(payload["items"][1]["slug"], "o/r0");
  EXPECT_EQ(payload["items"][97]["slug"], "o/r96");
}

// GitHub may answer fewer entries than asked for and still link a next page; the Link header
// is what says more exist. The next page is still asked for by number.
TEST_F(DesktopTest, LinkHeaderAnnouncesMorePages) {
  storeCredential(42);
  const std::string base = std::string(config::apiBaseURL()) + "/user/installations/";
  const std::string next = "<" + base + "1/repositories?per_page=100&page=3>; rel=\"next\", <" +
                           base + "1/repositories?per_page=100&page=9>; rel=\"last\"";
  const std::string lastOnly = "<" + base + "1/repositories?per_page=100&page=1>; rel=\"first\"";
  const struct {
    std::size_t count;
    HTTPHeaders headers;
    bool hasMore;
  } cases[] = {
      {30, {{"Link", next}}, true},
      {99, {{"link", next}}, true},
      {0, {{"Link", next}}, true},  // every entry of the page was hidden from the user
      {100, {{"Link", lastOnly}}, true},
      {99, {{"Link", lastOnly}}, false},
      {99, {}, false},
  };
  for (const auto& c : cases) {
    nlohmann::json repositories = nlohmann::json::array();
    nlohmann::json installations = nlohmann::json::array();
    for (std::size_t i = 0; i < c.count; ++i) {
      repositories.push_back(repository("mona-cat_octo/r" + std::to_string(i)));
      installations.push_back(installation(static_cast<std::int64_t>(i + 1), "mona-cat_octo"));
    }
    transport->respond(200, nlohmann::json{{"repositories", repositories}}.dump(), c.headers);
    const nlohmann::json payload = repositoriesCommand(
        context, {{"operation", "repositories"}, {"installation", 1}, {"page", 2}});
    EXPECT_EQ(payload["hasMore"], c.hasMore) << c.count;
    EXPECT_EQ(payload["items"].size(), c.count);
    EXPECT_EQ(requestedPath(*transport), "/user/installations/1/repositories?per_page=100&page=2");

    transport->respond(200, nlohmann::json{{"installations", installations}}.dump(), c.headers);
    EXPECT_EQ(installationsCommand(context, {{"operation", "installations"}})["hasMore"], c.hasMore)
        << c.count;
  }
}

TEST_F(DesktopTest, InvalidInstallationFailsBeforeTheKeychain) {
  storeCredential(42);
  for (const nlohmann::json& installationValue :
       {nlohmann::json(), nlohmann::json("1"), nlohmann::json(0), nlohmann::json(-4),
        nlohmann::json(1.5), nlohmann::json(true), nlohmann::json::array({1})}) {
    nlohmann::json request{{"operation", "repositories"}};
    if (!installationValue.is_null()) request["installation"] = installationValue;
    EXPECT_EQ(messageOf([&] { repositoriesCommand(context, request); }),
              "Choose a GitHub account first.")
        << installationValue;
  }
  EXPECT_EQ(keychainReads(), 0u);
  EXPECT_TRUE(transport->requests().empty());
}

TEST_F(DesktopTest, ListingsAcceptAnyStoredAccount) {
  storeCredential(0, "", "ghu_bare");  // a bare token has no account
  transport->respond(200, R"({"installations":[]})");
  installationsCommand(context, {{"operation", "installations"}});
  EXPECT_EQ(transport->requests().at(0).headers[0].second, "Bearer ghu_bare");
}

}  // namespace
}  // namespace pellow::testing
