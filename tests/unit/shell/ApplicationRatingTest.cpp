#include "app/shell/ApplicationRating.h"

#include <gtest/gtest.h>

#include "FakeServiceHTTPClient.h"
#include "app/shell/ServicePrint.h"

namespace lumvane {
namespace {

using test::FakeServiceHTTPClient;
using Json = nlohmann::json;

TEST(ApplicationRatingEnumsTest, TextsRoundTripExactly) {
    EXPECT_EQ(applicationRatingPlatformFromText("iOS"), ApplicationRatingPlatform::iOS);
    EXPECT_EQ(applicationRatingPlatformFromText("macOS"), ApplicationRatingPlatform::macOS);
    EXPECT_FALSE(applicationRatingPlatformFromText("macos"));
    EXPECT_FALSE(applicationRatingPlatformFromText("linux"));
    for (auto token : {ApplicationRatingToken::platform, ApplicationRatingToken::rate,
                       ApplicationRatingToken::version}) {
        EXPECT_EQ(applicationRatingTokenFromText(text(token)), token);
    }
    EXPECT_FALSE(applicationRatingTokenFromText("Rate"));
}

class FeedbackTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeServiceHTTPClient> http = std::make_shared<FakeServiceHTTPClient>();
    std::vector<std::string> printed;
    ScopedServicePrintSink sink{[this](std::string_view line) { printed.emplace_back(line); }};

    std::shared_ptr<ApplicationFeedbackServiceLumvaneIoImpl> production() {
        auto service = std::make_shared<ApplicationFeedbackServiceLumvaneIoImpl>(http);
        service->urlServerApi = ServiceURL::parse("https://feedback.example/feedback/Prod");
        service->coder = std::make_shared<ApplicationFeedbackCodableJsonImpl>();
        return service;
    }
    Json sentBody(size_t index = 0) {
        http->join();
        auto requests = http->requests();
        EXPECT_GT(requests.size(), index);
        return requests.size() > index ? Json::parse(requests[index].body) : Json();
    }
};

TEST_F(FeedbackTest, RatingGoesOutAsOnePostWithPlatformRateAndVersion) {
    ApplicationRatingRepositoryImpl repository;
    repository.feedbackService = production();
    repository.bundleInfo = {{"CFBundleVersion", "1234"}};
    http->answer(200, "");
    repository.send(5, ApplicationRatingPlatform::macOS);
    EXPECT_EQ(sentBody(), (Json{{"platform", "macOS"}, {"rate", 5}, {"version", "1234"}}));
    auto request = http->requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url.text(), "https://feedback.example/feedback/Prod");
    EXPECT_EQ(request.headers.at("Content-Type"), "application/json");
    EXPECT_EQ(request.timeout, std::chrono::seconds(60));
    EXPECT_NE(request.body.find('\n'), std::string::npos);  // pretty-printed

    http->answer(200, "");
    repository.bundleInfo = Json::object();  // no build version
    repository.send(3, ApplicationRatingPlatform::iOS);
    EXPECT_EQ(sentBody(1), (Json{{"platform", "iOS"}, {"rate", 3}, {"version", ""}}));
    EXPECT_TRUE(printed.empty());
}

TEST_F(FeedbackTest, DefaultVersionIsTheApplicationVersion) {
    ApplicationRatingRepositoryImpl repository;
    ASSERT_TRUE(repository.bundleInfo.contains("CFBundleVersion"));
    EXPECT_FALSE(repository.bundleInfo["CFBundleVersion"].get<std::string>().empty());
}

TEST_F(FeedbackTest, PredefinedEntriesFillOnlyMissingKeys) {
    auto service = production();
    service->predefineFeedback = {{"DEV", true}};
    http->answer(200, "");
    http->answer(200, "");
    service->send({{"rate", 4}});
    service->send({{"rate", 4}, {"DEV", "mine"}});
    EXPECT_EQ(sentBody(0), (Json{{"rate", 4}, {"DEV", true}}));
    EXPECT_EQ(sentBody(1), (Json{{"rate", 4}, {"DEV", "mine"}}));
}

TEST_F(FeedbackTest, TransportFailurePrintsOneLine) {
    auto service = production();
    http->fail("Could not connect");
    service->send({{"rate", 1}});
    http->join();
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0], "fail URLSession: Could not connect");
}

TEST_F(FeedbackTest, MissingWiringOrUnencodableFeedbackSendsNothing) {
    ApplicationRatingRepositoryImpl repository;
    repository.send(5, ApplicationRatingPlatform::macOS);

    auto noUrl = production();
    noUrl->urlServerApi.reset();
    noUrl->send({{"rate", 1}});
    auto noCoder = production();
    noCoder->coder.reset();
    noCoder->send({{"rate", 1}});
    ApplicationFeedbackServiceDebugImpl debugNoCoder;
    debugNoCoder.send({{"rate", 1}});
    production()->send({{"rate", "\xff\xfe"}});  // not UTF-8: cannot be JSON

    http->join();
    EXPECT_TRUE(http->requests().empty());
    ASSERT_EQ(printed.size(), 6u);
    EXPECT_EQ(printed[0], "fail send raitin: feedbackService not initialized");
    EXPECT_EQ(printed[1], "fail send feedback: url not initialized");
    EXPECT_EQ(printed[2], "fail send feedback: coder not initialized");
    EXPECT_EQ(printed[3], "fail send feedback: coder not initialized");
    // The encoder's own error, then the failure line with the caller's feedback.
    EXPECT_EQ(printed[5].rfind("fail send feedback: fail encode {\"rate\":", 0), 0u);
    EXPECT_EQ(printed[5].substr(printed[5].size() - 8), " to json");
}

TEST_F(FeedbackTest, DebugServicePrintsTheDocumentAndSendsNothing) {
    ApplicationFeedbackServiceDebugImpl service;
    service.coder = std::make_shared<ApplicationFeedbackCodableJsonImpl>();
    service.send({{"platform", "macOS"}, {"rate", 2}});
    ASSERT_EQ(printed.size(), 4u);
    EXPECT_EQ(printed[0], std::string(62, '-'));
    EXPECT_EQ(printed[1], "send feedback:");
    EXPECT_EQ(Json::parse(printed[2]), (Json{{"platform", "macOS"}, {"rate", 2}}));
    EXPECT_EQ(printed[3], std::string(62, '-'));
    EXPECT_TRUE(http->requests().empty());
}

}  // namespace
}  // namespace lumvane
