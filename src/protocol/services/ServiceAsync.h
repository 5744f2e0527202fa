#pragma once
// Asynchronous bindings of the mobile-storage, storage, host-storage and logging services. Each
// client writes its call on the calling thread exactly as the synchronous client does,
// flushes through a TAsyncTransport and reads the reply when the transport calls back.
// The response callback gets the response record (nothing for a method that returns
// nothing); the failure callback gets every TException: one raised while writing, the
// transport's, and one raised by the reply reader or by the response callback. Other
// exceptions are not caught. One call must complete before the next starts on the same
// client, since both directions share one protocol. A client owned by a shared_ptr is
// kept alive by its pending completion; one that is not must outlive its calls.
#include <functional>
#include <memory>

#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocol.h>

#include "idl/protocols.h"
#include "protocol/services/TAsyncTransport.h"

namespace lumvane {

using TBNAsyncFailure = std::function<void(const apache::thrift::TException&)>;

namespace detail {
// What every asynchronous client shares: one protocol from the factory on the
// transport, used by the synchronous client for both directions.
template <class SyncClient>
class AsyncClientBase {
  public:
    const std::shared_ptr<TAsyncTransport>& asyncTransport() const { return asyncTransport_; }
    const std::shared_ptr<apache::thrift::protocol::TProtocol>& protocol() const {
        return protocol_;
    }

  protected:
    AsyncClientBase(const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
                    std::shared_ptr<TAsyncTransport> transport)
        : asyncTransport_(std::move(transport)),
          protocol_(factory->getProtocol(asyncTransport_)),
          client_(protocol_) {}

    // Writes with `send`; on the transport's completion runs `receive` (which reads the
    // reply and calls the response callback). `keepAlive` holds the client until then.
    void dispatch(std::shared_ptr<const void> keepAlive, const std::function<void()>& send,
                  std::function<void()> receive, TBNAsyncFailure failure) {
        try {
            send();
        } catch (const apache::thrift::TException& e) {
            if (failure) failure(e);
            return;
        }
        auto completion = [keepAlive = std::move(keepAlive), receive = std::move(receive),
                           failure]() {
            try {
                receive();
            } catch (const apache::thrift::TException& e) {
                if (failure) failure(e);
            }
        };
        asyncTransport_->flush(std::move(completion), failure);
    }

    std::shared_ptr<TAsyncTransport> asyncTransport_;
    std::shared_ptr<apache::thrift::protocol::TProtocol> protocol_;
    SyncClient client_;
};
}  // namespace detail

// The asynchronous interface of MobileStorageService.
class TBNMobileStorageServiceAsync {
  public:
    virtual ~TBNMobileStorageServiceAsync() = default;
    virtual void approveClient(
        std::shared_ptr<TBNApproveClientRequest> request,
        std::function<void(std::shared_ptr<TBNApproveClientResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void updateInfo(std::shared_ptr<TBNUpdateInfoRequest> request,
                            std::function<void(std::shared_ptr<TBNUpdateInfoResponse>)> response,
                            TBNAsyncFailure failure) = 0;
    virtual void getSitesCache(
        std::shared_ptr<TBNGetSitesCacheRequest> request,
        std::function<void(std::shared_ptr<TBNGetSitesCacheResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void getAccountsCache(
        std::shared_ptr<TBNGetAccountsCacheRequest> request,
        std::function<void(std::shared_ptr<TBNGetAccountsCacheResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void getBackUp(std::shared_ptr<TBNGetBackUpRequest> request,
                           std::function<void(std::shared_ptr<TBNGetBackUpResponse>)> response,
                           TBNAsyncFailure failure) = 0;
    virtual void setBackUpResult(std::shared_ptr<TBNSetBackUpResult> backupResult,
                                 std::function<void()> response, TBNAsyncFailure failure) = 0;
    virtual void setBackUp(std::shared_ptr<TBNSetBackUp> backUp, std::function<void()> response,
                           TBNAsyncFailure failure) = 0;
    virtual void sendPassword(
        std::shared_ptr<TBNSendPasswordRequest> request,
        std::function<void(std::shared_ptr<TBNSendPasswordResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void loadDataForClipboard(
        std::shared_ptr<TBNLoadDataForClipboardRequest> request,
        std::function<void(std::shared_ptr<TBNLoadDataForClipboardResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void getUrlToOpen(
        std::shared_ptr<TBNGetUrlToOpenRequest> request,
        std::function<void(std::shared_ptr<TBNGetUrlToOpenResponce>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void requestForImportSiteData(
        std::shared_ptr<TBNRequestForImportSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNRequestForImportSiteDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void importSiteData(
        std::shared_ptr<TBNImportSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNImportSiteDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void requestForExportSiteData(
        std::shared_ptr<TBNRequestForExportSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNRequestForExportSiteDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void exportSiteData(
        std::shared_ptr<TBNExportSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNExportSiteDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void registerYubikey(
        std::shared_ptr<TBNRegisterYubikeyRequest> request,
        std::function<void(std::shared_ptr<TBNRegisterYubikeyResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void authenticationYubikey(
        std::shared_ptr<TBNAuthenticationYubikeyRequest> request,
        std::function<void(std::shared_ptr<TBNAuthenticationYubikeyResponse>)> response,
        TBNAsyncFailure failure) = 0;
};

class TBNMobileStorageServiceClientAsync
    : public TBNMobileStorageServiceAsync,
      public detail::AsyncClientBase<TBNMobileStorageServiceClient>,
      public std::enable_shared_from_this<TBNMobileStorageServiceClientAsync> {
  public:
    TBNMobileStorageServiceClientAsync(
        const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
        std::shared_ptr<TAsyncTransport> transport);

    void send_approveClient(std::shared_ptr<TBNApproveClientRequest> request) {
        client_.send_approveClient(std::move(request));
    }
    std::shared_ptr<TBNApproveClientResponse> recv_approveClient() {
        return client_.recv_approveClient();
    }
    void approveClient(std::shared_ptr<TBNApproveClientRequest> request,
                       std::function<void(std::shared_ptr<TBNApproveClientResponse>)> response,
                       TBNAsyncFailure failure) override;
    void send_updateInfo(std::shared_ptr<TBNUpdateInfoRequest> request) {
        client_.send_updateInfo(std::move(request));
    }
    std::shared_ptr<TBNUpdateInfoResponse> recv_updateInfo() { return client_.recv_updateInfo(); }
    void updateInfo(std::shared_ptr<TBNUpdateInfoRequest> request,
                    std::function<void(std::shared_ptr<TBNUpdateInfoResponse>)> response,
                    TBNAsyncFailure failure) override;
    void send_getSitesCache(std::shared_ptr<TBNGetSitesCacheRequest> request) {
        client_.send_getSitesCache(std::move(request));
    }
    std::shared_ptr<TBNGetSitesCacheResponse> recv_getSitesCache() {
        return client_.recv_getSitesCache();
    }
    void getSitesCache(std::shared_ptr<TBNGetSitesCacheRequest> request,
                       std::function<void(std::shared_ptr<TBNGetSitesCacheResponse>)> response,
                       TBNAsyncFailure failure) override;
    void send_getAccountsCache(std::shared_ptr<TBNGetAccountsCacheRequest> request) {
        client_.send_getAccountsCache(std::move(request));
    }
    std::shared_ptr<TBNGetAccountsCacheResponse> recv_getAccountsCache() {
        return client_.recv_getAccountsCache();
    }
    void getAccountsCache(
        std::shared_ptr<TBNGetAccountsCacheRequest> request,
        std::function<void(std::shared_ptr<TBNGetAccountsCacheResponse>)> response,
        TBNAsyncFailure failure) override;
    void send_getBackUp(std::shared_ptr<TBNGetBackUpRequest> request) {
        client_.send_getBackUp(std::move(request));
    }
    std::shared_ptr<TBNGetBackUpResponse> recv_getBackUp() { return client_.recv_getBackUp(); }
    void getBackUp(std::shared_ptr<TBNGetBackUpRequest> request,
                   std::function<void(std::shared_ptr<TBNGetBackUpResponse>)> response,
                   TBNAsyncFailure failure) override;
    void send_setBackUpResult(std::shared_ptr<TBNSetBackUpResult> backupResult) {
        client_.send_setBackUpResult(std::move(backupResult));
    }
    void recv_setBackUpResult() { return client_.recv_setBackUpResult(); }
    void setBackUpResult(std::shared_ptr<TBNSetBackUpResult> backupResult,
                         std::function<void()> response, TBNAsyncFailure failure) override;
    void send_setBackUp(std::shared_ptr<TBNSetBackUp> backUp) {
        client_.send_setBackUp(std::move(backUp));
    }
    void recv_setBackUp() { return client_.recv_setBackUp(); }
    void setBackUp(std::shared_ptr<TBNSetBackUp> backUp, std::function<void()> response,
                   TBNAsyncFailure failure) override;
    void send_sendPassword(std::shared_ptr<TBNSendPasswordRequest> request) {
        client_.send_sendPassword(std::move(request));
    }
    std::shared_ptr<TBNSendPasswordResponse> recv_sendPassword() {
        return client_.recv_sendPassword();
    }
    void sendPassword(std::shared_ptr<TBNSendPasswordRequest> request,
                      std::function<void(std::shared_ptr<TBNSendPasswordResponse>)> response,
                      TBNAsyncFailure failure) override;
    void send_loadDataForClipboard(std::shared_ptr<TBNLoadDataForClipboardRequest> request) {
        client_.send_loadDataForClipboard(std::move(request));
    }
    std::shared_ptr<TBNLoadDataForClipboardResponse> recv_loadDataForClipboard() {
        return client_.recv_loadDataForClipboard();
    }
    void loadDataForClipboard(
        std::shared_ptr<TBNLoadDataForClipboardRequest> request,
        std::function<void(std::shared_ptr<TBNLoadDataForClipboardResponse>)> response,
        TBNAsyncFailure failure) override;
    void send_getUrlToOpen(std::shared_ptr<TBNGetUrlToOpenRequest> request) {
        client_.send_getUrlToOpen(std::move(request));
    }
    std::shared_ptr<TBNGetUrlToOpenResponce> recv_getUrlToOpen() {
        return client_.recv_getUrlToOpen();
    }
    void getUrlToOpen(std::shared_ptr<TBNGetUrlToOpenRequest> request,
                      std::function<void(std::shared_ptr<TBNGetUrlToOpenResponce>)> response,
                      TBNAsyncFailure failure) override;
    void send_requestForImportSiteData(
        std::shared_ptr<TBNRequestForImportSiteDataRequest> request) {
        client_.send_requestForImportSiteData(std::move(request));
    }
    std::shared_ptr<TBNRequestForImportSiteDataResponse> recv_requestForImportSiteData() {
        return client_.recv_requestForImportSiteData();
    }
    void requestForImportSiteData(
        std::shared_ptr<TBNRequestForImportSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNRequestForImportSiteDataResponse>)> response,
        TBNAsyncFailure failure) override;
    void send_importSiteData(std::shared_ptr<TBNImportSiteDataRequest> request) {
        client_.send_importSiteData(std::move(request));
    }
    std::shared_ptr<TBNImportSiteDataResponse> recv_importSiteData() {
        return client_.recv_importSiteData();
    }
    void importSiteData(std::shared_ptr<TBNImportSiteDataRequest> request,
                        std::function<void(std::shared_ptr<TBNImportSiteDataResponse>)> response,
                        TBNAsyncFailure failure) override;
    void send_requestForExportSiteData(
        std::shared_ptr<TBNRequestForExportSiteDataRequest> request) {
        client_.send_requestForExportSiteData(std::move(request));
    }
    std::shared_ptr<TBNRequestForExportSiteDataResponse> recv_requestForExportSiteData() {
        return client_.recv_requestForExportSiteData();
    }
    void requestForExportSiteData(
        std::shared_ptr<TBNRequestForExportSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNRequestForExportSiteDataResponse>)> response,
        TBNAsyncFailure failure) override;
    void send_exportSiteData(std::shared_ptr<TBNExportSiteDataRequest> request) {
        client_.send_exportSiteData(std::move(request));
    }
    std::shared_ptr<TBNExportSiteDataResponse> recv_exportSiteData() {
        return client_.recv_exportSiteData();
    }
    void exportSiteData(std::shared_ptr<TBNExportSiteDataRequest> request,
                        std::function<void(std::shared_ptr<TBNExportSiteDataResponse>)> response,
                        TBNAsyncFailure failure) override;
    void send_registerYubikey(std::shared_ptr<TBNRegisterYubikeyRequest> request) {
        client_.send_registerYubikey(std::move(request));
    }
    std::shared_ptr<TBNRegisterYubikeyResponse> recv_registerYubikey() {
        return client_.recv_registerYubikey();
    }
    void registerYubikey(std::shared_ptr<TBNRegisterYubikeyRequest> request,
                         std::function<void(std::shared_ptr<TBNRegisterYubikeyResponse>)> response,
                         TBNAsyncFailure failure) override;
    void send_authenticationYubikey(std::shared_ptr<TBNAuthenticationYubikeyRequest> request) {
        client_.send_authenticationYubikey(std::move(request));
    }
    std::shared_ptr<TBNAuthenticationYubikeyResponse> recv_authenticationYubikey() {
        return client_.recv_authenticationYubikey();
    }
    void authenticationYubikey(
        std::shared_ptr<TBNAuthenticationYubikeyRequest> request,
        std::function<void(std::shared_ptr<TBNAuthenticationYubikeyResponse>)> response,
        TBNAsyncFailure failure) override;
};

// The asynchronous interface of HostStorageService.
class TBNHostStorageServiceAsync {
  public:
    virtual ~TBNHostStorageServiceAsync() = default;
    virtual void sendPing(std::shared_ptr<TBNPingTestRequest> request,
                          std::function<void(std::shared_ptr<TBNPongTestResponse>)> response,
                          TBNAsyncFailure failure) = 0;
    virtual void chooseSiteData(
        std::shared_ptr<TBNChooseSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNChooseSiteDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request,
        std::function<void(std::shared_ptr<TBNImportSiteDataFromGoogleResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void generatePassword(
        std::shared_ptr<TBNGeneratePasswordRequest> request,
        std::function<void(std::shared_ptr<TBNGeneratePasswordResponse>)> response,
        TBNAsyncFailure failure) = 0;
};

class TBNHostStorageServiceClientAsync
    : public TBNHostStorageServiceAsync,
      public detail::AsyncClientBase<TBNHostStorageServiceClient>,
      public std::enable_shared_from_this<TBNHostStorageServiceClientAsync> {
  public:
    TBNHostStorageServiceClientAsync(
        const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
        std::shared_ptr<TAsyncTransport> transport);

    void send_sendPing(std::shared_ptr<TBNPingTestRequest> request) {
        client_.send_sendPing(std::move(request));
    }
    std::shared_ptr<TBNPongTestResponse> recv_sendPing() { return client_.recv_sendPing(); }
    void sendPing(std::shared_ptr<TBNPingTestRequest> request,
                  std::function<void(std::shared_ptr<TBNPongTestResponse>)> response,
                  TBNAsyncFailure failure) override;
    void send_chooseSiteData(std::shared_ptr<TBNChooseSiteDataRequest> request) {
        client_.send_chooseSiteData(std::move(request));
    }
    std::shared_ptr<TBNChooseSiteDataResponse> recv_chooseSiteData() {
        return client_.recv_chooseSiteData();
    }
    void chooseSiteData(std::shared_ptr<TBNChooseSiteDataRequest> request,
                        std::function<void(std::shared_ptr<TBNChooseSiteDataResponse>)> response,
                        TBNAsyncFailure failure) override;
    void send_importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request) {
        client_.send_importSiteDataFromGoogle(std::move(request));
    }
    std::shared_ptr<TBNImportSiteDataFromGoogleResponse> recv_importSiteDataFromGoogle() {
        return client_.recv_importSiteDataFromGoogle();
    }
    void importSiteDataFromGoogle(
        std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request,
        std::function<void(std::shared_ptr<TBNImportSiteDataFromGoogleResponse>)> response,
        TBNAsyncFailure failure) override;
    void send_generatePassword(std::shared_ptr<TBNGeneratePasswordRequest> request) {
        client_.send_generatePassword(std::move(request));
    }
    std::shared_ptr<TBNGeneratePasswordResponse> recv_generatePassword() {
        return client_.recv_generatePassword();
    }
    void generatePassword(
        std::shared_ptr<TBNGeneratePasswordRequest> request,
        std::function<void(std::shared_ptr<TBNGeneratePasswordResponse>)> response,
        TBNAsyncFailure failure) override;
};

// The asynchronous interface of StorageService.
class TBNStorageServiceAsync {
  public:
    virtual ~TBNStorageServiceAsync() = default;
    virtual void getLoginData(
        std::shared_ptr<TBNGetLoginDataRequest> request,
        std::function<void(std::shared_ptr<TBNGetLoginDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void addLoginData(
        std::shared_ptr<TBNAddLoginDataRequest> request,
        std::function<void(std::shared_ptr<TBNAddLoginDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void deleteLoginData(
        std::shared_ptr<TBNDeleteLoginDataRequest> request,
        std::function<void(std::shared_ptr<TBNDeleteLoginDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void updateLoginData(
        std::shared_ptr<TBNUpdateLoginDataRequest> request,
        std::function<void(std::shared_ptr<TBNUpdateLoginDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void getSiteData(std::shared_ptr<TBNGetSiteDataRequest> request,
                             std::function<void(std::shared_ptr<TBNGetSiteDataResponse>)> response,
                             TBNAsyncFailure failure) = 0;
    virtual void getSiteDataList(
        std::shared_ptr<TBNGetSiteDataListRequest> request,
        std::function<void(std::shared_ptr<TBNGetSiteDataListResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void deleteSiteData(
        std::shared_ptr<TBNDeleteSiteDataRequest> request,
        std::function<void(std::shared_ptr<TBNDeleteSiteDataResponse>)> response,
        TBNAsyncFailure failure) = 0;
    virtual void get2FACode(std::shared_ptr<TBNGet2FACodeRequest> request,
                            std::function<void(std::shared_ptr<TBNGet2FACodeResponse>)> response,
                            TBNAsyncFailure failure) = 0;
};

class TBNStorageServiceClientAsync
    : public TBNStorageServiceAsync,
      public detail::AsyncClientBase<TBNStorageServiceClient>,
      public std::enable_shared_from_this<TBNStorageServiceClientAsync> {
  public:
    TBNStorageServiceClientAsync(
        const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
        std::shared_ptr<TAsyncTransport> transport);

    void send_getLoginData(std::shared_ptr<TBNGetLoginDataRequest> request) {
        client_.send_getLoginData(std::move(request));
    }
    std::shared_ptr<TBNGetLoginDataResponse> recv_getLoginData() {
        return client_.recv_getLoginData();
    }
    void getLoginData(std::shared_ptr<TBNGetLoginDataRequest> request,
                      std::function<void(std::shared_ptr<TBNGetLoginDataResponse>)> response,
                      TBNAsyncFailure failure) override;
    void send_addLoginData(std::shared_ptr<TBNAddLoginDataRequest> request) {
        client_.send_addLoginData(std::move(request));
    }
    std::shared_ptr<TBNAddLoginDataResponse> recv_addLoginData() {
        return client_.recv_addLoginData();
    }
    void addLoginData(std::shared_ptr<TBNAddLoginDataRequest> request,
                      std::function<void(std::shared_ptr<TBNAddLoginDataResponse>)> response,
                      TBNAsyncFailure failure) override;
    void send_deleteLoginData(std::shared_ptr<TBNDeleteLoginDataRequest> request) {
        client_.send_deleteLoginData(std::move(request));
    }
    std::shared_ptr<TBNDeleteLoginDataResponse> recv_deleteLoginData() {
        return client_.recv_deleteLoginData();
    }
    void deleteLoginData(std::shared_ptr<TBNDeleteLoginDataRequest> request,
                         std::function<void(std::shared_ptr<TBNDeleteLoginDataResponse>)> response,
                         TBNAsyncFailure failure) override;
    void send_updateLoginData(std::shared_ptr<TBNUpdateLoginDataRequest> request) {
        client_.send_updateLoginData(std::move(request));
    }
    std::shared_ptr<TBNUpdateLoginDataResponse> recv_updateLoginData() {
        return client_.recv_updateLoginData();
    }
    void updateLoginData(std::shared_ptr<TBNUpdateLoginDataRequest> request,
                         std::function<void(std::shared_ptr<TBNUpdateLoginDataResponse>)> response,
                         TBNAsyncFailure failure) override;
    void send_getSiteData(std::shared_ptr<TBNGetSiteDataRequest> request) {
        client_.send_getSiteData(std::move(request));
    }
    std::shared_ptr<TBNGetSiteDataResponse> recv_getSiteData() {
        return client_.recv_getSiteData();
    }
    void getSiteData(std::shared_ptr<TBNGetSiteDataRequest> request,
                     std::function<void(std::shared_ptr<TBNGetSiteDataResponse>)> response,
                     TBNAsyncFailure failure) override;
    void send_getSiteDataList(std::shared_ptr<TBNGetSiteDataListRequest> request) {
        client_.send_getSiteDataList(std::move(request));
    }
    std::shared_ptr<TBNGetSiteDataListResponse> recv_getSiteDataList() {
        return client_.recv_getSiteDataList();
    }
    void getSiteDataList(std::shared_ptr<TBNGetSiteDataListRequest> request,
                         std::function<void(std::shared_ptr<TBNGetSiteDataListResponse>)> response,
                         TBNAsyncFailure failure) override;
    void send_deleteSiteData(std::shared_ptr<TBNDeleteSiteDataRequest> request) {
        client_.send_deleteSiteData(std::move(request));
    }
    std::shared_ptr<TBNDeleteSiteDataResponse> recv_deleteSiteData() {
        return client_.recv_deleteSiteData();
    }
    void deleteSiteData(std::shared_ptr<TBNDeleteSiteDataRequest> request,
                        std::function<void(std::shared_ptr<TBNDeleteSiteDataResponse>)> response,
                        TBNAsyncFailure failure) override;
    void send_get2FACode(std::shared_ptr<TBNGet2FACodeRequest> request) {
        client_.send_get2FACode(std::move(request));
    }
    std::shared_ptr<TBNGet2FACodeResponse> recv_get2FACode() { return client_.recv_get2FACode(); }
    void get2FACode(std::shared_ptr<TBNGet2FACodeRequest> request,
                    std::function<void(std::shared_ptr<TBNGet2FACodeResponse>)> response,
                    TBNAsyncFailure failure) override;
};

// The asynchronous interface of LoggingService.
class TBNLoggingServiceAsync {
  public:
    virtual ~TBNLoggingServiceAsync() = default;
    virtual void sendLog(std::shared_ptr<TBNLogMessage> logMessage, std::function<void()> response,
                         TBNAsyncFailure failure) = 0;
};

class TBNLoggingServiceClientAsync
    : public TBNLoggingServiceAsync,
      public detail::AsyncClientBase<TBNLoggingServiceClient>,
      public std::enable_shared_from_this<TBNLoggingServiceClientAsync> {
  public:
    TBNLoggingServiceClientAsync(
        const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
        std::shared_ptr<TAsyncTransport> transport);

    void send_sendLog(std::shared_ptr<TBNLogMessage> logMessage) {
        client_.send_sendLog(std::move(logMessage));
    }
    void recv_sendLog() { return client_.recv_sendLog(); }
    void sendLog(std::shared_ptr<TBNLogMessage> logMessage, std::function<void()> response,
                 TBNAsyncFailure failure) override;
};

}  // namespace lumvane
