#pragma once
// The service layer's wiring: registration units grouped in four lists (services, data
// sources, repositories, entities), applied in that order to the process-wide root
// container on its first use.
#include <memory>
#include <string>
#include <vector>

#include "app/shell/ServiceContainer.h"
#include "app/shell/ServiceHTTPClient.h"

namespace lumvane {

// What the factories need from outside; tests give a fake HTTP client.
struct ServiceLayerEnvironment {
    static constexpr const char* kFeedbackURL = "https://api.lumvane.io/feedback/Prod";

    std::shared_ptr<ServiceHTTPClient> httpClient;  // null: the shared cpp-httplib client
    std::string feedbackURL = kFeedbackURL;
    std::string locationHost;       // empty: the location service's default
    std::string locationAccessKey;  // empty: the location service's default
};

class ServiceAssembly {
  public:
    virtual ~ServiceAssembly() = default;
    virtual const char* name() const = 0;
    virtual void registerServices(const std::shared_ptr<ServiceContainer>& container,
                                  const ServiceLayerEnvironment& environment) const = 0;
};

using ServiceAssemblyList = std::vector<std::unique_ptr<ServiceAssembly>>;

struct ServicesAssemblies {
    static ServiceAssemblyList assemblies();
};
struct DataSourcesAssemblies {
    static ServiceAssemblyList assemblies();
};
struct RepositoriesAssemblies {
    static ServiceAssemblyList assemblies();
};
struct EntitiesAssemblies {
    static ServiceAssemblyList assemblies();
};

class AppAssembly {
  public:
    // The root container, built once (also when two threads ask first at the same time).
    static std::shared_ptr<ServiceContainer> shared();
    // A new root container with every list applied, for the given environment.
    static std::shared_ptr<ServiceContainer> build(const ServiceLayerEnvironment& environment);
};

}  // namespace lumvane
