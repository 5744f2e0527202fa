#include "app/shell/AppAssembly.h"

#include "app/shell/ApplicationRating.h"
#include "app/shell/LocationAccessibility.h"

namespace lumvane {

namespace {

std::shared_ptr<ServiceHTTPClient> httpClientOf(const ServiceLayerEnvironment& environment) {
    if (environment.httpClient) return environment.httpClient;
    return HttplibServiceHTTPClient::shared();
}

std::shared_ptr<LocationServiceImpl> makeLocationService(const ServiceLayerEnvironment& env) {
    return std::make_shared<LocationServiceImpl>(
        httpClientOf(env),
        env.locationHost.empty() ? LocationServiceImpl::kDefaultHost : env.locationHost,
        env.locationAccessKey.empty() ? LocationServiceImpl::kDefaultAccessKey
                                      : env.locationAccessKey);
}

class LocationServiceAssembly : public ServiceAssembly {
  public:
    const char* name() const override { return "LocationServiceAssembly"; }
    void registerServices(const std::shared_ptr<ServiceContainer>& root,
                          const ServiceLayerEnvironment& env) const override {
        root->registerService<LocationService>([env] { return makeLocationService(env); },
                                               std::nullopt, ServiceScope::resolution);
    }
};

class ApplicationFeedbackServiceAssembly : public ServiceAssembly {
  public:
    const char* name() const override { return "ApplicationFeedbackServiceAssembly"; }
    void registerServices(const std::shared_ptr<ServiceContainer>& root,
                          const ServiceLayerEnvironment& env) const override {
        auto child = ServiceContainer::create(root);
        child->registerService<ApplicationFeedbackCodable>(
            [] { return std::make_shared<ApplicationFeedbackCodableJsonImpl>(); }, std::nullopt,
            ServiceScope::container);
        auto production = [child, env](bool prerelease) {
            auto service =
                std::make_shared<ApplicationFeedbackServiceLumvaneIoImpl>(httpClientOf(env));
            service->urlServerApi = ServiceURL::parse(env.feedbackURL);
            service->coder = child->resolve<ApplicationFeedbackCodable>();
            if (prerelease) service->predefineFeedback = {{"DEV", true}};
            return service;
        };
        root->registerService<ApplicationFeedbackService>(
            [production] { return production(false); }, "production", ServiceScope::resolution);
        root->registerService<ApplicationFeedbackService>([production] { return production(true); },
                                                          "production_prerelease",
                                                          ServiceScope::resolution);
        root->registerService<ApplicationFeedbackService>(
            [child] {
                auto service = std::make_shared<ApplicationFeedbackServiceDebugImpl>();
                service->coder = child->resolve<ApplicationFeedbackCodable>();
                return service;
            },
            "debug", ServiceScope::resolution);
    }
};

class LocationRulesDataSourceAssembly : public ServiceAssembly {
  public:
    const char* name() const override { return "LocationRulesDataSourceAssembly"; }
    void registerServices(const std::shared_ptr<ServiceContainer>& root,
                          const ServiceLayerEnvironment&) const override {
        root->registerService<LocationRulesDataSource>(
            [] { return std::make_shared<LocationRulesDataSourceImpl>(); }, std::nullopt,
            ServiceScope::resolution);
    }
};

class ApplicationRatingRepositoryAssembly : public ServiceAssembly {
  public:
    const char* name() const override { return "ApplicationRatingRepositoryAssembly"; }
    void registerServices(const std::shared_ptr<ServiceContainer>& root,
                          const ServiceLayerEnvironment&) const override {
        // Weak: the root container holds this factory.
        std::weak_ptr<ServiceContainer> weakRoot = root;
        root->registerService<ApplicationRatingRepository>(
            [weakRoot] {
                auto repository = std::make_shared<ApplicationRatingRepositoryImpl>();
                if (auto container = weakRoot.lock()) {
                    repository->feedbackService =
                        container->resolve<ApplicationFeedbackService>("production");
                }
                return repository;
            },
            std::nullopt, ServiceScope::resolution);
    }
};

class LocationAccessibilityRepositoryAssembly : public ServiceAssembly {
  public:
    const char* name() const override { return "LocationAccessibilityRepositoryAssembly"; }
    void registerServices(const std::shared_ptr<ServiceContainer>& root,
                          const ServiceLayerEnvironment& env) const override {
        auto child = ServiceContainer::create(root);
        auto repository = [child](std::optional<std::string> serviceName) {
            return [child, serviceName] {
                auto repo = std::make_shared<LocationAccessibilityRepositoryImpl>();
                repo->service = child->resolve<LocationService>(serviceName);
                repo->rules = child->resolve<LocationRulesDataSource>();
                return repo;
            };
        };
        child->registerService<LocationService>([env] { return makeLocationService(env); },
                                                std::nullopt, ServiceScope::container);
        child->registerService<LocationRulesDataSource>(
            [] { return std::make_shared<LocationRulesDataSourceImpl>(); }, std::nullopt,
            ServiceScope::container);
        root->registerService<LocationAccessibilityRepository>(
            repository(std::nullopt), std::nullopt, ServiceScope::container);
        child->registerService<LocationService>(
            [] { return std::make_shared<LocationServiceMock>("EU", "", "IT", ""); }, "mock_eu",
            ServiceScope::container);
        root->registerService<LocationAccessibilityRepository>(repository("mock_eu"), "mock_eu",
                                                               ServiceScope::container);
        child->registerService<LocationService>(
            [] { return std::make_shared<LocationServiceMock>("NA", "", "US", ""); }, "mock_not_eu",
            ServiceScope::container);
        root->registerService<LocationAccessibilityRepository>(
            repository("mock_not_eu"), "mock_not_eu", ServiceScope::container);
    }
};

template <typename... Units>
ServiceAssemblyList listOf() {
    ServiceAssemblyList list;
    (list.push_back(std::make_unique<Units>()), ...);
    return list;
}

}  // namespace

ServiceAssemblyList ServicesAssemblies::assemblies() {
    return listOf<LocationServiceAssembly, ApplicationFeedbackServiceAssembly>();
}
ServiceAssemblyList DataSourcesAssemblies::assemblies() {
    return listOf<LocationRulesDataSourceAssembly>();
}
ServiceAssemblyList RepositoriesAssemblies::assemblies() {
    return listOf<ApplicationRatingRepositoryAssembly, LocationAccessibilityRepositoryAssembly>();
}
ServiceAssemblyList EntitiesAssemblies::assemblies() {
    return {};
}

std::shared_ptr<ServiceContainer> AppAssembly::build(const ServiceLayerEnvironment& environment) {
    auto root = ServiceContainer::create(nullptr, ServiceScope::resolution);
    for (auto* list : {&ServicesAssemblies::assemblies, &DataSourcesAssemblies::assemblies,
                       &RepositoriesAssemblies::assemblies, &EntitiesAssemblies::assemblies}) {
        for (const auto& unit : list()) unit->registerServices(root, environment);
    }
    return root;
}

std::shared_ptr<ServiceContainer> AppAssembly::shared() {
    static const std::shared_ptr<ServiceContainer> root = build(ServiceLayerEnvironment{});
    return root;
}

}  // namespace lumvane
