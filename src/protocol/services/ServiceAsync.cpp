#include "protocol/services/ServiceAsync.h"

namespace lumvane {

TBNMobileStorageServiceClientAsync::TBNMobileStorageServiceClientAsync(
    const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
    std::shared_ptr<TAsyncTransport> transport)
    : AsyncClientBase(factory, std::move(transport)) {}

void TBNMobileStorageServiceClientAsync::approveClient(
    std::shared_ptr<TBNApproveClientRequest> request,
    std::function<void(std::shared_ptr<TBNApproveClientResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_approveClient(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_approveClient();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::updateInfo(
    std::shared_ptr<TBNUpdateInfoRequest> request,
    std::function<void(std::shared_ptr<TBNUpdateInfoResponse>)> response, TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_updateInfo(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_updateInfo();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::getSitesCache(
    std::shared_ptr<TBNGetSitesCacheRequest> request,
    std::function<void(std::shared_ptr<TBNGetSitesCacheResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getSitesCache(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getSitesCache();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::getAccountsCache(
    std::shared_ptr<TBNGetAccountsCacheRequest> request,
    std::function<void(std::shared_ptr<TBNGetAccountsCacheResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getAccountsCache(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getAccountsCache();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::getBackUp(
    std::shared_ptr<TBNGetBackUpRequest> request,
    std::function<void(std::shared_ptr<TBNGetBackUpResponse>)> response, TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getBackUp(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getBackUp();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::setBackUpResult(
    std::shared_ptr<TBNSetBackUpResult> backupResult, std::function<void()> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_setBackUpResult(std::move(backupResult)); },
        [this, response = std::move(response)] {
            recv_setBackUpResult();
            if (response) response();
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::setBackUp(std::shared_ptr<TBNSetBackUp> backUp,
                                                   std::function<void()> response,
                                                   TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_setBackUp(std::move(backUp)); },
        [this, response = std::move(response)] {
            recv_setBackUp();
            if (response) response();
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::sendPassword(
    std::shared_ptr<TBNSendPasswordRequest> request,
    std::function<void(std::shared_ptr<TBNSendPasswordResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_sendPassword(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_sendPassword();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::loadDataForClipboard(
    std::shared_ptr<TBNLoadDataForClipboardRequest> request,
    std::function<void(std::shared_ptr<TBNLoadDataForClipboardResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_loadDataForClipboard(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_loadDataForClipboard();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::getUrlToOpen(
    std::shared_ptr<TBNGetUrlToOpenRequest> request,
    std::function<void(std::shared_ptr<TBNGetUrlToOpenResponce>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getUrlToOpen(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getUrlToOpen();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::requestForImportSiteData(
    std::shared_ptr<TBNRequestForImportSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNRequestForImportSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_requestForImportSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_requestForImportSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::importSiteData(
    std::shared_ptr<TBNImportSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNImportSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_importSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_importSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::requestForExportSiteData(
    std::shared_ptr<TBNRequestForExportSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNRequestForExportSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_requestForExportSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_requestForExportSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::exportSiteData(
    std::shared_ptr<TBNExportSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNExportSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_exportSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_exportSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::registerYubikey(
    std::shared_ptr<TBNRegisterYubikeyRequest> request,
    std::function<void(std::shared_ptr<TBNRegisterYubikeyResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_registerYubikey(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_registerYubikey();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNMobileStorageServiceClientAsync::authenticationYubikey(
    std::shared_ptr<TBNAuthenticationYubikeyRequest> request,
    std::function<void(std::shared_ptr<TBNAuthenticationYubikeyResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_authenticationYubikey(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_authenticationYubikey();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

TBNHostStorageServiceClientAsync::TBNHostStorageServiceClientAsync(
    const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
    std::shared_ptr<TAsyncTransport> transport)
    : AsyncClientBase(factory, std::move(transport)) {}

void TBNHostStorageServiceClientAsync::sendPing(
    std::shared_ptr<TBNPingTestRequest> request,
    std::function<void(std::shared_ptr<TBNPongTestResponse>)> response, TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_sendPing(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_sendPing();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNHostStorageServiceClientAsync::chooseSiteData(
    std::shared_ptr<TBNChooseSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNChooseSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_chooseSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_chooseSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNHostStorageServiceClientAsync::importSiteDataFromGoogle(
    std::shared_ptr<TBNImportSiteDataFromGoogleRequest> request,
    std::function<void(std::shared_ptr<TBNImportSiteDataFromGoogleResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_importSiteDataFromGoogle(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_importSiteDataFromGoogle();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNHostStorageServiceClientAsync::generatePassword(
    std::shared_ptr<TBNGeneratePasswordRequest> request,
    std::function<void(std::shared_ptr<TBNGeneratePasswordResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_generatePassword(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_generatePassword();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

TBNStorageServiceClientAsync::TBNStorageServiceClientAsync(
    const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
    std::shared_ptr<TAsyncTransport> transport)
    : AsyncClientBase(factory, std::move(transport)) {}

void TBNStorageServiceClientAsync::getLoginData(
    std::shared_ptr<TBNGetLoginDataRequest> request,
    std::function<void(std::shared_ptr<TBNGetLoginDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getLoginData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getLoginData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::addLoginData(
    std::shared_ptr<TBNAddLoginDataRequest> request,
    std::function<void(std::shared_ptr<TBNAddLoginDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_addLoginData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_addLoginData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::deleteLoginData(
    std::shared_ptr<TBNDeleteLoginDataRequest> request,
    std::function<void(std::shared_ptr<TBNDeleteLoginDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_deleteLoginData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_deleteLoginData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::updateLoginData(
    std::shared_ptr<TBNUpdateLoginDataRequest> request,
    std::function<void(std::shared_ptr<TBNUpdateLoginDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_updateLoginData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_updateLoginData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::getSiteData(
    std::shared_ptr<TBNGetSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNGetSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::getSiteDataList(
    std::shared_ptr<TBNGetSiteDataListRequest> request,
    std::function<void(std::shared_ptr<TBNGetSiteDataListResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_getSiteDataList(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_getSiteDataList();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::deleteSiteData(
    std::shared_ptr<TBNDeleteSiteDataRequest> request,
    std::function<void(std::shared_ptr<TBNDeleteSiteDataResponse>)> response,
    TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_deleteSiteData(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_deleteSiteData();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}

void TBNStorageServiceClientAsync::get2FACode(
    std::shared_ptr<TBNGet2FACodeRequest> request,
    std::function<void(std::shared_ptr<TBNGet2FACodeResponse>)> response, TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_get2FACode(std::move(request)); },
        [this, response = std::move(response)] {
            auto answer = recv_get2FACode();
            if (response) response(std::move(answer));
        },
        std::move(failure));
}
TBNLoggingServiceClientAsync::TBNLoggingServiceClientAsync(
    const std::shared_ptr<apache::thrift::protocol::TProtocolFactory>& factory,
    std::shared_ptr<TAsyncTransport> transport)
    : AsyncClientBase(factory, std::move(transport)) {}

void TBNLoggingServiceClientAsync::sendLog(std::shared_ptr<TBNLogMessage> logMessage,
                                           std::function<void()> response,
                                           TBNAsyncFailure failure) {
    dispatch(
        weak_from_this().lock(), [&] { send_sendLog(std::move(logMessage)); },
        [this, response = std::move(response)] {
            recv_sendLog();
            if (response) response();
        },
        std::move(failure));
}

}  // namespace lumvane
