#include <gtest/gtest.h>

#include <chrono>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace S = VeltraSuiteSetup;
using namespace test::ids;
constexpr const char* kDunmar = "local.dunmar.native";

double nowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(PairRules, PairKeyIsOrderedByCodePoint) {
  EXPECT_EQ(S::pair(kSorel, kPellow), "com.pemberhollo.pellow|com.pemberhollo.sorel");
  EXPECT_EQ(S::pair(kPellow, kSorel), "com.pemberhollo.pellow|com.pemberhollo.sorel");
  EXPECT_EQ(S::pair("B", "a"), "B|a");                // upper case sorts first
  EXPECT_EQ(S::pair("\xc3\xa9", "z"), "z|\xc3\xa9");  // é (U+00E9) after z
  EXPECT_EQ(S::pair(kMure, kMure), "com.pemberhollo.mure|com.pemberhollo.mure");
}

struct PermitCase {
  const char* name;
  VeltraSuiteConsent record;
  const char* local;
  const char* remote;
  std::optional<std::string> team;
  bool expected;
};
void PrintTo(const PermitCase& c, std::ostream* out) { *out << c.name; }

VeltraSuiteConsent with(const std::function<void(VeltraSuiteConsent&)>& change) {
  VeltraSuiteConsent record;
  change(record);
  return record;
}

std::vector<PermitCase> permitCases() {
  const std::string team = "K4TQ7WMX2P";
  const auto suiteOn = with([](auto& r) { r.enabled = true; });
  const auto declined = with([](auto& r) { r.declinedSet = "a|b"; });
  const auto approvedWhileOff =
      with([](auto& r) { r.approvedPairs = std::vector<std::string>{S::pair(kPellow, kSorel)}; });
  const auto pairOnly = with([](auto& r) {
    r.enabled = true;
    r.pairOnly = true;
    r.approvedPairs = std::vector<std::string>{S::pair(kPellow, kSorel)};
  });
  const auto pairOnlyFalse = with([](auto& r) {
    r.enabled = true;
    r.pairOnly = false;
  });
  const auto removed = with([](auto& r) {
    r.enabled = true;
    r.approvedPairs = std::vector<std::string>{S::pair(kPellow, kSorel)};
    r.removedPairs = std::vector<std::string>{S::pair(kPellow, kSorel)};
    r.blockedPairs = {S::pair(kPellow, kSorel)};
  });
  const auto removedListOnly = with([](auto& r) {
    r.enabled = true;
    r.removedPairs = std::vector<std::string>{S::pair(kPellow, kSorel)};
  });
  const auto mureApproved = with([](auto& r) {
    r.enabled = true;
    r.approvedPairs = std::vector<std::string>{S::pair(kPellow, kMure)};
  });
  const auto version2 = with([](auto& r) {
    r.version = 2;
    r.enabled = true;
  });
  const auto otherTeamFile = with([](auto& r) {
    r.enabled = true;
    r.teamId = "Z9ZZZZZZZ9";
  });
  return {
      {"NeverAsked", VeltraSuiteConsent(), kPellow, kSorel, team, false},
      {"Declined", declined, kPellow, kSorel, team, false},
      {"DeclinedKeepsApprovedPair", approvedWhileOff, kSorel, kPellow, team, true},
      {"SuiteOn", suiteOn, kPellow, kSorel, team, true},
      {"SuiteOnDunmar", suiteOn, kDunmar, kKesta, team, true},
      {"SuiteOnPairOnlyFalse", pairOnlyFalse, kPellow, kKesta, team, true},
      {"SuiteOnMureNeedsOwnApproval", suiteOn, kPellow, kMure, team, false},
      {"SuiteOnTollisNeedsOwnApproval", suiteOn, kTollis, kSorel, team, false},
      {"MureWithOwnApproval", mureApproved, kMure, kPellow, team, true},
      {"MureApprovalIsPerPair", mureApproved, kMure, kSorel, team, false},
      {"PairOnlyApproved", pairOnly, kPellow, kSorel, team, true},
      {"PairOnlyOther", pairOnly, kPellow, kKesta, team, false},
      {"RemovedPair", removed, kPellow, kSorel, team, false},
      {"RemovedListPlaysNoPart", removedListOnly, kPellow, kSorel, team, true},
      {"TeamAbsent", approvedWhileOff, kPellow, kSorel, std::nullopt, false},
      {"TeamDifferent", suiteOn, kPellow, kSorel, std::string("Z9ZZZZZZZ9"), false},
      {"FileOfOtherTeam", otherTeamFile, kPellow, kSorel, std::string("Z9ZZZZZZZ9"), false},
      {"Version2", version2, kPellow, kSorel, team, false},
      {"SameApp", suiteOn, kPellow, kPellow, team, false},
      {"OutsideCatalogue", suiteOn, kPellow, "com.example.other", team, false},
  };
}

class PermitsTable : public testing::TestWithParam<PermitCase> {};

TEST_P(PermitsTable, Decides) {
  const PermitCase& c = GetParam();
  const std::optional<std::string_view> team =
      c.team ? std::optional<std::string_view>(*c.team) : std::nullopt;
  EXPECT_EQ(c.record.permits(c.local, c.remote, team), c.expected);
  EXPECT_EQ(c.record.permits(c.remote, c.local, team), c.expected) << "pairs are unordered";
}

INSTANTIATE_TEST_SUITE_P(States, PermitsTable, testing::ValuesIn(permitCases()),
                         [](const auto& param) { return std::string(param.param.name); });

class PairChanges : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  std::filesystem::path registry = dir.path();
};

TEST_F(PairChanges, FirstApprovalWhileOffGivesTheWorkedExample) {
  const double before = nowMs();
  S::approvePair(kSorel, kPellow, registry);
  const VeltraSuiteConsent record = S::read(registry);

  VeltraSuiteConsent expected;
  expected.enabled = true;
  expected.approvedPairs = std::vector<std::string>{S::pair(kPellow, kSorel)};
  expected.pairOnly = true;
  expected.removedPairs = std::vector<std::string>{};
  expected.blockedPairs = {
      "com.pemberhollo.kesta|com.pemberhollo.mure",
      "com.pemberhollo.kesta|com.pemberhollo.pellow",
      "com.pemberhollo.kesta|com.pemberhollo.sorel",
      "com.pemberhollo.kesta|com.pemberhollo.tollis",
      "com.pemberhollo.kesta|local.dunmar.native",
      "com.pemberhollo.mure|com.pemberhollo.pellow",
      "com.pemberhollo.mure|com.pemberhollo.sorel",
      "com.pemberhollo.mure|com.pemberhollo.tollis",
      "com.pemberhollo.mure|local.dunmar.native",
      "com.pemberhollo.pellow|com.pemberhollo.tollis",
      "com.pemberhollo.pellow|local.dunmar.native",
      "com.pemberhollo.sorel|com.pemberhollo.tollis",
      "com.pemberhollo.sorel|local.dunmar.native",
      "com.pemberhollo.tollis|local.dunmar.native",
  };
  ASSERT_TRUE(record.approvedAt.has_value());
  EXPECT_GE(*record.approvedAt, before);
  EXPECT_LE(*record.approvedAt, nowMs());
  expected.approvedAt = record.approvedAt;
  EXPECT_EQ(record, expected);

  // A second approval while on blocks nothing new and opens its own pair.
  S::approvePair(kPellow, kKesta, registry);
  const VeltraSuiteConsent second = S::read(registry);
  EXPECT_EQ(second.approvedPairs,
            (std::vector<std::string>{S::pair(kPellow, kSorel), S::pair(kPellow, kKesta)}));
  EXPECT_EQ(second.blockedPairs.size(), 13u);
  EXPECT_EQ(
      std::count(second.blockedPairs.begin(), second.blockedPairs.end(), S::pair(kPellow, kKesta)),
      0);
  EXPECT_EQ(second.pairOnly, true);
  EXPECT_TRUE(second.permits(kPellow, kKesta, S::team()));
  EXPECT_FALSE(second.permits(kSorel, kKesta, S::team()));
}

TEST_F(PairChanges, ApprovalWhileOnKeepsOtherPairsOpen) {
  S::update(registry, S::applySuiteAnswer(true, "k", false));
  S::approvePair(kPellow, kMure, registry);
  const VeltraSuiteConsent record = S::read(registry);
  EXPECT_FALSE(record.pairOnly.has_value());
  EXPECT_TRUE(record.blockedPairs.empty());
  EXPECT_TRUE(record.permits(kPellow, kMure, S::team()));
  EXPECT_TRUE(record.permits(kSorel, kKesta, S::team()));
}

TEST_F(PairChanges, BlockThenApproveFlipsBack) {
  S::approvePair(kPellow, kSorel, registry);
  S::block(kSorel, kPellow, registry);
  VeltraSuiteConsent record = S::read(registry);
  EXPECT_FALSE(record.permits(kPellow, kSorel, S::team()));
  EXPECT_TRUE(S::isBlocked(kPellow, kSorel, registry));
  EXPECT_EQ(record.approvedPairs->back(), S::pair(kPellow, kSorel));
  // Side-effect blocks of the first approval are not "removed" by the user.
  EXPECT_FALSE(S::isBlocked(kKesta, kSorel, registry));

  S::approvePair(kPellow, kSorel, registry);
  record = S::read(registry);
  EXPECT_TRUE(record.permits(kPellow, kSorel, S::team()));
  EXPECT_FALSE(S::isBlocked(kPellow, kSorel, registry));
}

TEST_F(PairChanges, IsBlockedFallsBackToBlockedPairs) {
  S::update(registry, [](VeltraSuiteConsent& r) { r.blockedPairs = {S::pair(kPellow, kSorel)}; });
  EXPECT_TRUE(S::isBlocked(kPellow, kSorel, registry));
  S::update(registry, [](VeltraSuiteConsent& r) { r.removedPairs = std::vector<std::string>{}; });
  EXPECT_FALSE(S::isBlocked(kPellow, kSorel, registry));
}

TEST_F(PairChanges, BlockAcceptsAnyIdsAndStartsRemovedFromBlocked) {
  S::update(registry, [](VeltraSuiteConsent& r) { r.blockedPairs = {"x|y"}; });
  S::block("com.example.b", "com.example.a", registry);
  S::block("com.example.b", "com.example.a", registry);
  const VeltraSuiteConsent record = S::read(registry);
  EXPECT_EQ(record.removedPairs, (std::vector<std::string>{"x|y", "com.example.a|com.example.b"}));
  EXPECT_EQ(record.blockedPairs, (std::vector<std::string>{"x|y", "com.example.a|com.example.b"}));
  EXPECT_FALSE(record.enabled);
}

TEST_F(PairChanges, RefusedApprovalTouchesNothing) {
  for (const auto& [local, remote] :
       std::vector<std::pair<std::string, std::string>>{{kPellow, kPellow},
                                                        {kPellow, "com.example.other"},
                                                        {"com.pemberhollo.Pellow", kSorel}}) {
    EXPECT_EQ(test::cocoaCode([&] { S::approvePair(local, remote, registry); }), 257)
        << local << " with " << remote;
  }
  EXPECT_FALSE(std::filesystem::exists(registry / ".suite-setup"));
}

struct AnswerCase {
  const char* name;
  bool accepted;
  bool clearBlocked;
};
void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class SuiteAnswer : public testing::TestWithParam<AnswerCase> {};

TEST_P(SuiteAnswer, ChangesOnlyItsFields) {
  VeltraSuiteConsent record;
  record.enabled = !GetParam().accepted;
  record.approvedPairs = std::vector<std::string>{"a|b"};
  record.pairOnly = true;
  record.removedPairs = std::vector<std::string>{"c|d"};
  record.approvedAt = 5.0;
  record.blockedPairs = {"c|d", "e|f"};
  record.declinedSet = "old";
  VeltraSuiteConsent expected = record;

  S::applySuiteAnswer(GetParam().accepted, "a|b|c", GetParam().clearBlocked)(record);
  expected.enabled = GetParam().accepted;
  if (GetParam().accepted) {
    expected.declinedSet.reset();
    ASSERT_TRUE(record.approvedAt);
    EXPECT_GT(*record.approvedAt, 1.0e12);
    expected.approvedAt = record.approvedAt;
    if (GetParam().clearBlocked) expected.blockedPairs.clear();
  } else {
    expected.declinedSet = "a|b|c";
  }
  EXPECT_EQ(record, expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, SuiteAnswer,
                         testing::Values(AnswerCase{"Accepted", true, false},
                                         AnswerCase{"AcceptedForced", true, true},
                                         AnswerCase{"Declined", false, false},
                                         AnswerCase{"DeclinedForced", false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Catalogue, IdentityPrefixes) {
  EXPECT_TRUE(S::identity("development:local.dunmar.native:", "local.dunmar.native"));
  EXPECT_TRUE(S::identity("local.dunmar.native", "local.dunmar.native"));
  EXPECT_TRUE(S::identity("signed:com.pemberhollo.pellow:ABC", kPellow));
  EXPECT_FALSE(S::identity("signed:local.dunmar", "local.dunmar.native"));
  EXPECT_FALSE(S::identity("signed:com.pemberhollo.pellowx:ABC", kPellow));
  EXPECT_FALSE(S::identity("signed:com.pemberhollo.pellow", kPellow));
  EXPECT_FALSE(S::identity("other:com.pemberhollo.pellow:", kPellow));
}

TEST(Catalogue, SixAppsOfOneTeam) {
  EXPECT_EQ(S::team(), "K4TQ7WMX2P");
  EXPECT_EQ(S::names().size(), 6u);
  EXPECT_EQ(S::names().at(kDunmar), "Dunmar");
  EXPECT_EQ(S::names().count("com.pemberhollo.Pellow"), 0u);
}

}  // namespace
}  // namespace veltra
