#pragma once
// The storage-service handler that browser extensions reach on the loopback servers.
//
// For each of the eight storage operations it checks that the client is an approved
// extension client and that the service is not paused, then asks the local host service
// (TBNThriftHostService) and, when that answers nothing, the remote phone service. Every
// failure reaches the extension as an error in the response info, never as an RPC
// exception. Passwords cross the extension interface as Base64 of their UTF-8 bytes: the
// password of a login to add is decoded here (a password that is not Base64 of UTF-8
// text is refused), and every password returned is encoded. An updateLoginData request
// is passed on as it came.
//
// Wiring (the application service, each time it starts its servers):
//
//   auto proxy = TBNThriftProxy::initWithLocalSevice(hostService, remoteService);
//   auto storage = std::make_shared<TBNStorageServiceProcessor>(proxy);
//   auto host = std::make_shared<TBNHostStorageServiceProcessor>(hostService);
//   http = ThriftHTTPServer::initAsConcurrentWithPort(ThriftHTTPServer::kHTTPPort,
//       std::nullopt, ThriftJSONProtocolFactory::sharedFactory(), {host, storage, logging});
//
// or, the same in one step, TBNExtensionProcessors::make(hostService, remoteService).
// The proxy holds both services weakly: their owner (the application service) keeps
// them alive; a service that is gone counts as one that answered nothing.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <thrift/TProcessor.h>

#include "idl/protocols.h"

namespace lumvane {

class TBNSettings;
class TBNProtocolHelper;
class TBNThriftHostService;

struct TBNThriftProxyOptions {
    std::shared_ptr<TBNSettings> settings;        // default: TBNSettings::sharedSettings()
    TBNProtocolHelper* protocolHelper = nullptr;  // default: TBNProtocolHelper::sharedHelper()
};

class TBNThriftProxy : public TBNStorageService {
  public:
    using Options = TBNThriftProxyOptions;

    // initWithLocalSevice:andRemoteService:
    static std::shared_ptr<TBNThriftProxy> initWithLocalSevice(
        std::weak_ptr<TBNStorageService> localService,
        std::weak_ptr<TBNStorageService> remoteService, Options options = {});
    TBNThriftProxy(std::weak_ptr<TBNStorageService> localService,
                   std::weak_ptr<TBNStorageService> remoteService, Options options = {});

    std::shared_ptr<TBNStorageService> localService() const;
    void setLocalService(std::weak_ptr<TBNStorageService> service);
    std::shared_ptr<TBNStorageService> remoteService() const;
    void setRemoteService(std::weak_ptr<TBNStorageService> service);

    std::shared_ptr<TBNGetLoginDataResponse> getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> request) override;
    std::shared_ptr<TBNAddLoginDataResponse> addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> request) override;
    std::shared_ptr<TBNDeleteLoginDataResponse> deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest> request) override;
    std::shared_ptr<TBNUpdateLoginDataResponse> updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> request) override;
    std::shared_ptr<TBNGetSiteDataResponse> getSiteData(
        std::shared_ptr<TBNGetSiteDataRequest> request) override;
    std::shared_ptr<TBNGetSiteDataListResponse> getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> request) override;
    std::shared_ptr<TBNDeleteSiteDataResponse> deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest> request) override;
    std::shared_ptr<TBNGet2FACodeResponse> get2FACode(
        std::shared_ptr<TBNGet2FACodeRequest> request) override;

    // Base64 (standard alphabet, padded, no line breaks) of the UTF-8 bytes; nothing
    // stays nothing.
    static std::optional<std::string> encodePassword(const std::optional<std::string>& password);
    // The text whose Base64 the password is; nothing stays nothing. Also nothing for text
    // that is not Base64 or whose bytes are not UTF-8 (callers that got a password tell
    // that case apart).
    static std::optional<std::string> decodePassword(const std::optional<std::string>& password);

  private:
    template <class Request, class Response>
    std::shared_ptr<Response> handle(
        const char* operation, const std::shared_ptr<Request>& request,
        std::shared_ptr<Response> (TBNStorageService::*call)(std::shared_ptr<Request>));

    Options options_;
    mutable std::mutex servicesMutex_;
    std::weak_ptr<TBNStorageService> localService_;
    std::weak_ptr<TBNStorageService> remoteService_;
};

// The proxy and the two processors the extension servers on ports 19521 and 19523 take,
// made in one step. Hand them to the servers in the order host storage, storage (and the
// logging processor after them on port 19521).
struct TBNExtensionProcessors {
    std::shared_ptr<TBNThriftProxy> proxy;
    std::shared_ptr<apache::thrift::TProcessor> hostStorage;
    std::shared_ptr<apache::thrift::TProcessor> storage;

    static TBNExtensionProcessors make(const std::shared_ptr<TBNThriftHostService>& hostService,
                                       std::weak_ptr<TBNStorageService> remoteService,
                                       TBNThriftProxy::Options options = {});
};

}  // namespace lumvane
