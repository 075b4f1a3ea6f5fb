#include <gtest/gtest.h>

#include <filesystem>

#include "host/Consent.h"
#include "support/Error.h"

namespace dorvex::host {
namespace {

// The person's answers, given when the test says so.
class HeldAsker : public IConsentAsker {
public:
    std::vector<std::string> asked;
    std::vector<std::function<void(ConsentAnswer)>> waiting;
    void Ask(const std::string& origin, std::function<void(ConsentAnswer)> done) override {
        asked.push_back(origin);
        waiting.push_back(std::move(done));
    }
    void Answer(ConsentAnswer answer) {
        auto done = std::move(waiting.front());
        waiting.erase(waiting.begin());
        done(answer);
    }
};

class ConsentTest : public ::testing::Test {
protected:
    void SetUp() override {
        mDir = std::filesystem::temp_directory_path() / ("dorvex-consent-" + std::to_string(::getpid()));
        std::filesystem::create_directories(mDir);
        mPath = (mDir / "host.ini").string();
        HostConfig config(mPath);
        config.Allow("https://desk.example.org", Consent::Ask);
        config.Save();
    }
    void TearDown() override { std::filesystem::remove_all(mDir); }
    std::filesystem::path mDir;
    std::string mPath;
};

TEST_F(ConsentTest, UnlistedOriginsAreRefusedWithoutAsking) {
    HostConfig config(mPath);
    HeldAsker asker;
    ConsentKeeper keeper(config, asker);
    std::optional<bool> result;
    keeper.Request("https://other.example.org", [&](bool ok) { result = ok; });
    EXPECT_EQ(result, false);
    EXPECT_TRUE(asker.asked.empty());
}

TEST_F(ConsentTest, AllowOnceAsksAgainNextTime) {
    HostConfig config(mPath);
    HeldAsker asker;
    ConsentKeeper keeper(config, asker);
    std::optional<bool> first, second;
    keeper.Request("https://desk.example.org", [&](bool ok) { first = ok; });
    EXPECT_FALSE(first.has_value());  // waits for the person
    asker.Answer(ConsentAnswer::Once);
    EXPECT_EQ(first, true);
    keeper.Request("https://desk.example.org", [&](bool ok) { second = ok; });
    EXPECT_EQ(asker.asked.size(), 2u);
    asker.Answer(ConsentAnswer::Once);
    EXPECT_EQ(second, true);
}

TEST_F(ConsentTest, AlwaysIsRememberedInTheConfiguration) {
    HostConfig config(mPath);
    HeldAsker asker;
    {
        ConsentKeeper keeper(config, asker);
        std::optional<bool> result;
        keeper.Request("https://desk.example.org", [&](bool ok) { result = ok; });
        asker.Answer(ConsentAnswer::Always);
        EXPECT_EQ(result, true);
    }
    HostConfig reread(mPath);
    EXPECT_EQ(reread.ConsentOf("https://desk.example.org"), Consent::Always);
    ConsentKeeper later(reread, asker);
    std::optional<bool> result;
    later.Request("https://desk.example.org", [&](bool ok) { result = ok; });
    EXPECT_EQ(result, true);
    EXPECT_EQ(asker.asked.size(), 1u);
}

TEST_F(ConsentTest, DenyIsRememberedUntilTheHostStops) {
    HostConfig config(mPath);
    HeldAsker asker;
    ConsentKeeper keeper(config, asker);
    std::optional<bool> first, second;
    keeper.Request("https://desk.example.org", [&](bool ok) { first = ok; });
    asker.Answer(ConsentAnswer::Deny);
    EXPECT_EQ(first, false);
    keeper.Request("https://desk.example.org", [&](bool ok) { second = ok; });
    EXPECT_EQ(second, false);
    EXPECT_EQ(asker.asked.size(), 1u);
    EXPECT_EQ(HostConfig(mPath).ConsentOf("https://desk.example.org"), Consent::Ask);
}

TEST_F(ConsentTest, OneQuestionAtATimeAndConnectionsOfAnOriginShareIt) {
    HostConfig config(mPath);
    config.Allow("https://second.example.org", Consent::Ask);
    config.Save();
    HeldAsker asker;
    ConsentKeeper keeper(config, asker);
    std::vector<std::string> answers;
    keeper.Request("https://desk.example.org", [&](bool ok) { answers.push_back(ok ? "desk yes" : "desk no"); });
    keeper.Request("https://second.example.org", [&](bool ok) { answers.push_back(ok ? "second yes" : "second no"); });
    keeper.Request("https://desk.example.org", [&](bool ok) { answers.push_back(ok ? "desk yes" : "desk no"); });
    ASSERT_EQ(asker.asked.size(), 1u);
    asker.Answer(ConsentAnswer::Once);
    EXPECT_EQ(answers, (std::vector<std::string>{"desk yes", "desk yes"}));
    ASSERT_EQ(asker.asked.size(), 2u);
    EXPECT_EQ(asker.asked[1], "https://second.example.org");
    asker.Answer(ConsentAnswer::Deny);
    EXPECT_EQ(answers.back(), "second no");
}

TEST_F(ConsentTest, TheConfigurationListsOnlyOriginsAndKeepsThePort) {
    HostConfig config(mPath);
    EXPECT_EQ(config.Port(), HostConfig::kDefaultPort);
    config.SetPort(50123);
    EXPECT_THROW(config.Allow("desk.example.org", Consent::Ask), DorvexError);
    config.Allow("HTTP://127.0.0.1:8080", Consent::Ask);
    config.Save();
    HostConfig reread(mPath);
    EXPECT_EQ(reread.Port(), 50123);
    EXPECT_EQ(reread.Access("http://127.0.0.1:8080"), OriginAccess::Listed);
    EXPECT_EQ(reread.Origins(), (std::vector<std::string>{"https://desk.example.org", "http://127.0.0.1:8080"}));
    reread.Forget("http://127.0.0.1:8080");
    EXPECT_EQ(reread.Access("http://127.0.0.1:8080"), OriginAccess::Unlisted);
}

TEST_F(ConsentTest, AnOriginForgottenWhileThePersonIsAskedStaysOut) {
    HostConfig config(mPath);
    HeldAsker asker;
    ConsentKeeper keeper(config, asker);
    std::vector<bool> results;
    keeper.Request("https://desk.example.org", [&](bool allowed) { results.push_back(allowed); });
    ASSERT_EQ(asker.waiting.size(), 1u);
    // `dorvex host forget` runs while the question is open; another origin is listed meanwhile.
    {
        HostConfig other(mPath);
        other.Forget("https://desk.example.org");
        other.Allow("https://other.example.org", Consent::Ask);
        other.Save();
    }
    asker.Answer(ConsentAnswer::Always);
    EXPECT_EQ(results, std::vector<bool>{false});
    HostConfig after(mPath);
    EXPECT_NE(after.Access("https://desk.example.org"), OriginAccess::Listed);
    EXPECT_EQ(after.Access("https://other.example.org"), OriginAccess::Listed);
}

}  // namespace
}  // namespace dorvex::host
