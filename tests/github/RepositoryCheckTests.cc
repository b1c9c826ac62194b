// The repository check: the reference, GitHub's object and the "repository" operation.
#include <gtest/gtest.h>

#include <string>

#include "DesktopTest.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/api/RepositoryCheck.h"
#include "PellowGitHub/api/RepositoryReference.h"
#include "PellowGitHub/support/Json.h"
#include "github-helper/Commands.h"
#include "tests/github/GitHubTestSupport.h"

namespace pellow::testing {
namespace {

const std::string kInvalid = describeFailure(GitHubFailure::invalidRepositoryReference);
const std::string kArchived = describeFailure(GitHubFailure::archivedRepository);
const std::string kReadOnly = describeFailure(GitHubFailure::readOnlyRepository);

// GitHub's documented repository object, made writable.
nlohmann::json writableRepository() {
  nlohmann::json repo = nlohmann::json::parse(fixture("repo.json"));
  repo["permissions"]["push"] = true;
  return repo;
}

TEST(CheckedRepository, ObjectRulesInTheirOrder) {
  using Change = void (*)(nlohmann::json&);
  const struct {
    const char* what;
    Change change;
    std::string message;
  } cases[] = {
      {"writable", [](nlohmann::json&) {}, ""},
      {"documented example (no push)", [](nlohmann::json& r) { r["permissions"]["push"] = false; },
       kReadOnly},
      {"empty object", [](nlohmann::json& r) { r = nlohmann::json::object(); }, kInvalid},
      {"no id", [](nlohmann::json& r) { r.erase("id"); }, kInvalid},
      {"id 0", [](nlohmann::json& r) { r["id"] = 0; }, kInvalid},
      {"id as text", [](nlohmann::json& r) { r["id"] = "1296269"; }, kInvalid},
      {"id 1296269.0", [](nlohmann::json& r) { r["id"] = 1296269.0; }, ""},
      {"id 1.5", [](nlohmann::json& r) { r["id"] = 1.5; }, kInvalid},
      {"no full_name", [](nlohmann::json& r) { r.erase("full_name"); }, kInvalid},
      {"full_name null", [](nlohmann::json& r) { r["full_name"] = nullptr; }, kInvalid},
      {"default_branch number", [](nlohmann::json& r) { r["default_branch"] = 1; }, kInvalid},
      {"private as text", [](nlohmann::json& r) { r["private"] = "false"; }, kInvalid},
      {"other repository", [](nlohmann::json& r) { r["full_name"] = "octocat/Spoon-Knife"; },
       kInvalid},
      {"three pieces", [](nlohmann::json& r) { r["full_name"] = "octocat/Hello-World/x"; },
       kInvalid},
      {"other letter case", [](nlohmann::json& r) { r["full_name"] = "OctoCat/hello-WORLD"; }, ""},
      {"incomplete before archived",
       [](nlohmann::json& r) {
         r["archived"] = true;
         r.erase("private");
       },
       kInvalid},
      {"archived with push", [](nlohmann::json& r) { r["archived"] = true; }, kArchived},
      {"disabled without push",
       [](nlohmann::json& r) {
         r["disabled"] = true;
         r.erase("permissions");
       },
       kArchived},
      {"archived as text", [](nlohmann::json& r) { r["archived"] = "true"; }, ""},
      {"archived null", [](nlohmann::json& r) { r["archived"] = nullptr; }, ""},
      {"no permissions", [](nlohmann::json& r) { r.erase("permissions"); }, kReadOnly},
      {"permissions not an object", [](nlohmann::json& r) { r["permissions"] = true; }, kReadOnly},
      {"push as text", [](nlohmann::json& r) { r["permissions"]["push"] = "true"; }, kReadOnly},
      {"push missing", [](nlohmann::json& r) { r["permissions"].erase("push"); }, kReadOnly},
  };
  const GitHubCredential credential("ghu_1");
  for (const auto& c : cases) {
    nlohmann::json repo = writableRepository();
    c.change(repo);
    EXPECT_EQ(messageOf([&] { checkedRepository(repo, "octocat/hello-world", credential); }),
              c.message)
        << c.what;
  }
}

TEST(CheckedRepository, KeepsGitHubsLetterCase) {
  nlohmann::json repo = writableRepository();
  repo["full_name"] = "OctoCat/Hello-World";
  repo["private"] = true;
  const CheckedRepository checked =
      checkedRepository(repo, "octocat/hello-world", GitHubCredential("ghu_1"));
  EXPECT_EQ(checked.slug, "OctoCat/Hello-World");
  EXPECT_EQ(checked.remote, std::string(config::webBaseURL()) + "/OctoCat/Hello-World.git");
  EXPECT_EQ(checked.id, 1296269);
  EXPECT_EQ(checked.defaultBranch, "master");
  EXPECT_TRUE(checked.isPrivate);
}

TEST_F(DesktopTest, MalformedReferenceTouchesNeitherKeychainNorNetwork) {
  storeCredential(42);
  for (const nlohmann::json& request : {
           nlohmann::json{{"operation", "repository"}},
           nlohmann::json{{"operation", "repository"}, {"repository", 7}},
           nlohmann::json{{"operation", "repository"}, {"repository", "octocat"}},
           nlohmann::json{{"operation", "repository"}, {"repository", "a/b/c"}},
       }) {
    EXPECT_EQ(messageOf([&] { repositoryCommand(context, request); }), kInvalid) << request;
  }
  EXPECT_EQ(keychainReads(), 0u);
  EXPECT_TRUE(transport->requests().empty());
}

TEST_F(DesktopTest, GivenCredentialIsUsedWithoutTheKeychain) {
  GitHubCredential given("ghu_given");
  given.accountID = 7;
  given.login = "someone";
  transport->respond(200, writableRepository().dump());
  const CheckedRepository checked = desktop.checkRepository("octocat/Hello-World.git", given);
  EXPECT_EQ(checked.credential, given);
  EXPECT_EQ(keychainReads(), 0u);
  EXPECT_EQ(transport->requests().at(0).headers[0].second, "Bearer ghu_given");
}

}  // namespace
}  // namespace pellow::testing
