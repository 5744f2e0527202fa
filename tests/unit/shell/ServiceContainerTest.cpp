#include "app/shell/ServiceContainer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "FakeServiceHTTPClient.h"
#include "app/shell/AppAssembly.h"
#include "app/shell/ApplicationRating.h"
#include "app/shell/LocationAccessibility.h"
#include "app/shell/ServicePrint.h"

namespace lumvane {
namespace {

struct Thing {
    virtual ~Thing() = default;
    int id = 0;
};

TEST(ServiceContainerTest, NamesScopesAndParentFallback) {
    auto parent = ServiceContainer::create();
    auto child = ServiceContainer::create(parent);
    int built = 0;
    auto factory = [&built](int id) {
        return [&built, id] {
            ++built;
            auto t = std::make_shared<Thing>();
            t->id = id;
            return t;
        };
    };
    parent->registerService<Thing>(factory(1));
    parent->registerService<Thing>(factory(2), "two", ServiceScope::container);
    child->registerService<Thing>(factory(3), "two");

    EXPECT_EQ(parent->resolve<Thing>()->id, 1);
    EXPECT_NE(parent->resolve<Thing>(), parent->resolve<Thing>());            // per resolution
    EXPECT_EQ(parent->resolve<Thing>("two"), parent->resolve<Thing>("two"));  // per container
    EXPECT_EQ(parent->resolve<Thing>("two")->id, 2);
    EXPECT_FALSE(parent->resolve<Thing>("three"));
    EXPECT_FALSE(parent->resolve<int>());

    EXPECT_EQ(child->resolve<Thing>()->id, 1);       // falls back to the parent
    EXPECT_EQ(child->resolve<Thing>("two")->id, 3);  // own registration hides the parent's
    EXPECT_EQ(child->parent(), parent);
}

TEST(ServiceContainerTest, RegisteringRunsNoFactoryAndContainerScopeBuildsOnceUnderRace) {
    auto container = ServiceContainer::create();
    std::atomic<int> built{0};
    container->registerService<Thing>(
        [&built] {
            ++built;
            return std::make_shared<Thing>();
        },
        std::nullopt, ServiceScope::container);
    EXPECT_EQ(built, 0);
    std::vector<std::thread> threads;
    std::vector<std::shared_ptr<Thing>> seen(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] { seen[i] = container->resolve<Thing>(); });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(built, 1);
    for (const auto& s : seen) EXPECT_EQ(s, seen[0]);
}

std::vector<std::string> namesOf(const ServiceAssemblyList& list) {
    std::vector<std::string> names;
    for (const auto& unit : list) names.emplace_back(unit->name());
    return names;
}

TEST(AppAssemblyTest, ListsHoldTheirUnitsInOrder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(namesOf(ServicesAssemblies::assemblies()),
              (V{"LocationServiceAssembly", "ApplicationFeedbackServiceAssembly"}));
    EXPECT_EQ(namesOf(DataSourcesAssemblies::assemblies()), (V{"LocationRulesDataSourceAssembly"}));
    EXPECT_EQ(
        namesOf(RepositoriesAssemblies::assemblies()),
        (V{"ApplicationRatingRepositoryAssembly", "LocationAccessibilityRepositoryAssembly"}));
    EXPECT_TRUE(EntitiesAssemblies::assemblies().empty());
}

TEST(AppAssemblyTest, SharedRootIsBuiltOnce) {
    auto first = AppAssembly::shared();
    size_t count = first->registrationCount();
    EXPECT_EQ(AppAssembly::shared(), first);
    EXPECT_EQ(first->registrationCount(), count);
    // Unnamed location service and rules, three feedback services, the rating repository
    // and the three location repositories.
    EXPECT_EQ(count, 9u);
}

class AssembledTest : public ::testing::Test {
  protected:
    std::shared_ptr<test::FakeServiceHTTPClient> http =
        std::make_shared<test::FakeServiceHTTPClient>();
    std::shared_ptr<ServiceContainer> root = [this] {
        ServiceLayerEnvironment env;
        env.httpClient = http;
        env.feedbackURL = "https://feedback.example/feedback/Prod";
        return AppAssembly::build(env);
    }();
};

TEST_F(AssembledTest, LocationRepositoryIsOneInstanceOverTheChildsService) {
    auto a = std::dynamic_pointer_cast<LocationAccessibilityRepositoryImpl>(
        root->resolve<LocationAccessibilityRepository>());
    auto b = root->resolve<LocationAccessibilityRepository>();
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    ASSERT_TRUE(std::dynamic_pointer_cast<LocationServiceImpl>(a->service));
    ASSERT_TRUE(std::dynamic_pointer_cast<LocationRulesDataSourceImpl>(a->rules));
    EXPECT_NE(a->service, root->resolve<LocationService>());
    EXPECT_NE(root->resolve<LocationService>(), root->resolve<LocationService>());
    EXPECT_TRUE(http->requests().empty());  // nothing looked up while wiring
}

TEST_F(AssembledTest, MockLocationRepositories) {
    struct Case {
        const char* name;
        const char* continent;
        const char* country;
        LocationZone zone;
    } cases[] = {{"mock_eu", "EU", "IT", LocationZone::black},
                 {"mock_not_eu", "NA", "US", LocationZone::white}};
    for (const auto& c : cases) {
        auto repo = std::dynamic_pointer_cast<LocationAccessibilityRepositoryImpl>(
            root->resolve<LocationAccessibilityRepository>(c.name));
        ASSERT_TRUE(repo) << c.name;
        EXPECT_EQ(repo->service->continentCode(), c.continent);
        EXPECT_EQ(repo->service->countryCode(), c.country);
        EXPECT_EQ(repo->service->countryName(), "");
        EXPECT_EQ(repo->accessibilityZone(), c.zone);
    }
}

TEST_F(AssembledTest, RatingRepositoriesAreFreshWithOwnServiceAndSharedCoder) {
    auto a = std::dynamic_pointer_cast<ApplicationRatingRepositoryImpl>(
        root->resolve<ApplicationRatingRepository>());
    auto b = std::dynamic_pointer_cast<ApplicationRatingRepositoryImpl>(
        root->resolve<ApplicationRatingRepository>());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    auto sa =
        std::dynamic_pointer_cast<ApplicationFeedbackServiceLumvaneIoImpl>(a->feedbackService);
    auto sb =
        std::dynamic_pointer_cast<ApplicationFeedbackServiceLumvaneIoImpl>(b->feedbackService);
    ASSERT_TRUE(sa && sb);
    EXPECT_NE(sa, sb);
    ASSERT_TRUE(sa->coder);
    EXPECT_EQ(sa->coder, sb->coder);
    ASSERT_TRUE(sa->urlServerApi);
    EXPECT_EQ(sa->urlServerApi->text(), "https://feedback.example/feedback/Prod");
    EXPECT_TRUE(sa->predefineFeedback.empty());
}

TEST_F(AssembledTest, FeedbackServicesByName) {
    EXPECT_FALSE(root->resolve<ApplicationFeedbackService>());
    EXPECT_TRUE(std::dynamic_pointer_cast<ApplicationFeedbackServiceDebugImpl>(
        root->resolve<ApplicationFeedbackService>("debug")));
    auto pre = std::dynamic_pointer_cast<ApplicationFeedbackServiceLumvaneIoImpl>(
        root->resolve<ApplicationFeedbackService>("production_prerelease"));
    ASSERT_TRUE(pre);
    EXPECT_EQ(pre->predefineFeedback, (nlohmann::json{{"DEV", true}}));
}

TEST(AppAssemblyFeedbackURLTest, UnparsableURLLeavesItEmpty) {
    ServiceLayerEnvironment env;
    env.httpClient = std::make_shared<test::FakeServiceHTTPClient>();
    env.feedbackURL = "not a url";
    auto root = AppAssembly::build(env);
    auto service = std::dynamic_pointer_cast<ApplicationFeedbackServiceLumvaneIoImpl>(
        root->resolve<ApplicationFeedbackService>("production"));
    ASSERT_TRUE(service);
    EXPECT_FALSE(service->urlServerApi);
    std::vector<std::string> printed;
    ScopedServicePrintSink sink([&](std::string_view line) { printed.emplace_back(line); });
    service->send({{"rate", 1}});
    EXPECT_EQ(printed, std::vector<std::string>{"fail send feedback: url not initialized"});
}

}  // namespace
}  // namespace lumvane
