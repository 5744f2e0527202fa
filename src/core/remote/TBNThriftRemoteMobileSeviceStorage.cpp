// The extensions' storage calls, forwarded to the paired phone with the Mac's credentials.
#include <exception>

#include "core/remote/TBNThriftRemoteMobileSevice.h"
#include "protocol/site/HostPath.h"
#include "runtime/AfterReply.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

namespace {

constexpr const char* kTag = "core|thrift";

std::string idText(const std::optional<std::string>& text) {
    return text.value_or("(null)");
}

template <class Response>
std::shared_ptr<TBNError> errorOf(const std::shared_ptr<Response>& response) {
    return response && response->info() ? response->info()->error() : nullptr;
}

// Shared by a call and its 5 s timer: a notice that the timer shows is always hidden by
// the end of the call, whichever comes first.
struct NoticeState {
    std::mutex mutex;
    bool finished = false;
    bool shown = false;
};

}  // namespace

template <class Request, class Response>
std::shared_ptr<Response> TBNThriftRemoteMobileSevice::storageCall(
    const char* name, const std::shared_ptr<Request>& request,
    const std::function<std::shared_ptr<Response>(TBNStorageServiceClient&,
                                                  std::shared_ptr<Request>)>& send,
    std::shared_ptr<RemotePhoneTransport>* usedTransport,
    const std::function<void(const std::shared_ptr<TBNError>&)>& onError, bool* threw) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    if (!request) return nullptr;
    auto transport = getOnlineTransportFactory();
    if (!transport) {
        TBN_LOG_DEBUG(kTag, "currentDevice == nil");
        TBN_LOG_DEBUG_ALT_END(kTag);
        return nullptr;
    }
    // Credentials and vault data go only to the paired phone.
    if (!transportBelongsToPairedPhone(transport)) {
        TBN_LOG_DEBUG_ALT_END(kTag);
        return nullptr;
    }
    if (usedTransport) *usedTransport = transport;
    std::shared_ptr<Response> response;
    try {
        request->setAuth(clientAuth());
        TBN_LOG_INFO(kTag, "->->- {}: {}", name,
                     idText(request->info() ? request->info()->id() : std::nullopt));
        auto client = createStorageServiceWithTransportFactory(transport);
        response = send(*client, request);
        const auto requestId =
            response && response->info() ? response->info()->requestId() : std::nullopt;
        if (auto error = errorOf(response)) {
            TBN_LOG_ERROR(kTag, "-<-<- {}: {} - {} {} {}", name, idText(requestId),
                          error->category(), error->id(), idText(error->debugMessage()));
            if (onError) onError(error);
            processingError(error);
        } else {
            TBN_LOG_INFO(kTag, "-<-<- {}: {}", name, idText(requestId));
        }
    } catch (const std::exception& e) {
        // C++ exceptions carry no call stack; the line keeps its form without one.
        TBN_LOG_ERROR(kTag, "{} = '{}'\n*** First throw call stack:\n", "exception", e.what());
        response.reset();
        if (threw) *threw = true;
    }
    TBN_LOG_DEBUG_END(kTag);
    return response;
}

template <class Request, class Response>
std::shared_ptr<Response> TBNThriftRemoteMobileSevice::noticedCall(
    const char* name, const std::shared_ptr<Request>& request,
    const std::function<std::shared_ptr<Response>(TBNStorageServiceClient&,
                                                  std::shared_ptr<Request>)>& send,
    std::shared_ptr<RemotePhoneTransport>* usedTransport) {
    if (!request) return nullptr;
    const auto& siteUrl = request->siteUrl();
    std::string domain;
    if (siteUrl && !siteUrl->empty()) domain = siteDomainName(*siteUrl).value_or("");

    auto state = std::make_shared<NoticeState>();
    std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
    auto timer = clock_->callAt(clock_->deadlineAfter(5.0), [this, weak, state] {
        async([weak, state] {
            auto self = weak.lock();
            if (!self) return;
            auto d = self->delegate();
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->finished || !d) return;
            state->shown = true;
            d->remoteMobileShowWaitingPopover(*self);
        });
    });
    bool threw = false;
    auto response = storageCall<Request, Response>(
        name, request, send, usedTransport,
        [&](const std::shared_ptr<TBNError>& error) {
            if (error->category() == 2 && error->id() == 3) {
                if (auto d = delegate()) d->remoteMobileAccessDenyToSite(*this, domain);
            }
        },
        &threw);
    clock_->cancel(timer);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->finished = true;
        if (state->shown) {
            if (auto d = delegate()) d->remoteMobileHideWaitingPopover(*this);
        }
    }
    if (threw) {
        if (auto d = delegate()) d->remoteMobileAccessTimeoutToSite(*this, domain);
    }
    return response;
}

std::shared_ptr<TBNGetLoginDataResponse> TBNThriftRemoteMobileSevice::getLoginData(
    std::shared_ptr<TBNGetLoginDataRequest> request) {
    std::shared_ptr<RemotePhoneTransport> transport;
    auto response = noticedCall<TBNGetLoginDataRequest, TBNGetLoginDataResponse>(
        "getLoginData", request,
        [](TBNStorageServiceClient& c, auto r) { return c.getLoginData(r); }, &transport);
    if (response && !errorOf(response) && response->data() && transport) {
        // The cache entry is in before the answer goes back, so a call that follows sees
        // it; the tick and the notices wait until the answer is out.
        settings_->addToCacheUserName(response->data()->login(), response->data()->password(),
                                      request->siteUrl(), transport->deviceInfo()->bleId());
        afterReply([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) return;
            auto& settings = *self->settings_;
            settings.rateTriggerTick();
            auto d = self->delegate();
            if (!settings.firstFillGuideShowed()) {
                if (d) d->remoteMobileShowFirstFillGuidePopover(*self);
                settings.setFirstFillGuideShowed(true);
            } else if (settings.resetSendReports()) {
                if (d) d->remoteMobileShowResetAnalyticsPopover(*self);
                settings.setResetSendReports(false);
            } else if (settings.showRateView()) {
                if (d) d->remoteMobileShowRatePopover(*self);
            }
        });
    }
    return response;
}

std::shared_ptr<TBNGet2FACodeResponse> TBNThriftRemoteMobileSevice::get2FACode(
    std::shared_ptr<TBNGet2FACodeRequest> request) {
    return noticedCall<TBNGet2FACodeRequest, TBNGet2FACodeResponse>(
        "get2FACode", request, [](TBNStorageServiceClient& c, auto r) { return c.get2FACode(r); },
        nullptr);
}

std::shared_ptr<TBNAddLoginDataResponse> TBNThriftRemoteMobileSevice::addLoginData(
    std::shared_ptr<TBNAddLoginDataRequest> request) {
    return storageCall<TBNAddLoginDataRequest, TBNAddLoginDataResponse>(
        "addLoginData", request,
        [](TBNStorageServiceClient& c, auto r) { return c.addLoginData(r); });
}

std::shared_ptr<TBNDeleteLoginDataResponse> TBNThriftRemoteMobileSevice::deleteLoginData(
    std::shared_ptr<TBNDeleteLoginDataRequest> request) {
    return storageCall<TBNDeleteLoginDataRequest, TBNDeleteLoginDataResponse>(
        "deleteLoginData", request,
        [](TBNStorageServiceClient& c, auto r) { return c.deleteLoginData(r); });
}

std::shared_ptr<TBNUpdateLoginDataResponse> TBNThriftRemoteMobileSevice::updateLoginData(
    std::shared_ptr<TBNUpdateLoginDataRequest> request) {
    return storageCall<TBNUpdateLoginDataRequest, TBNUpdateLoginDataResponse>(
        "updateLoginData", request,
        [](TBNStorageServiceClient& c, auto r) { return c.updateLoginData(r); });
}

std::shared_ptr<TBNGetSiteDataListResponse> TBNThriftRemoteMobileSevice::getSiteDataList(
    std::shared_ptr<TBNGetSiteDataListRequest> request) {
    return storageCall<TBNGetSiteDataListRequest, TBNGetSiteDataListResponse>(
        "getSiteDataList", request,
        [](TBNStorageServiceClient& c, auto r) { return c.getSiteDataList(r); });
}

std::shared_ptr<TBNDeleteSiteDataResponse> TBNThriftRemoteMobileSevice::deleteSiteData(
    std::shared_ptr<TBNDeleteSiteDataRequest> request) {
    return storageCall<TBNDeleteSiteDataRequest, TBNDeleteSiteDataResponse>(
        "deleteSiteData", request,
        [](TBNStorageServiceClient& c, auto r) { return c.deleteSiteData(r); });
}

std::shared_ptr<TBNGetSiteDataResponse> TBNThriftRemoteMobileSevice::getSiteData(
    std::shared_ptr<TBNGetSiteDataRequest> request) {
    if (!request) return nullptr;
    const std::string siteUrl = request->siteUrl().value_or("");
    const auto device = settings_->firstPairedDevice();
    const bool online = device && device->online();
    if (request->manualIsSet() && request->manual() && !online) {
        TBN_LOG_INFO(kTag, "device's offline and manual request");
        return nullptr;
    }
    bool ask = true;
    if (device && !device->online() && device->sitesCache()) {
        bool isProtected = false;
        ask =
            settings_->cachedSiteUrl(siteDomainName(siteUrl), device->hardwareId(), &isProtected) &&
            !isProtected;
    }
    if (!ask) {
        TBN_LOG_INFO(kTag, "don't send getSiteData");
        return std::make_shared<TBNGetSiteDataResponse>();
    }
    TBN_LOG_INFO(kTag, "send getSiteData");
    std::shared_ptr<RemotePhoneTransport> transport;
    auto response = storageCall<TBNGetSiteDataRequest, TBNGetSiteDataResponse>(
        "getSiteData", request, [](TBNStorageServiceClient& c, auto r) { return c.getSiteData(r); },
        &transport);
    if (!transport) {
        // No analytics tracker is wired up; the event stays a log line.
        TBN_LOG_DEBUG(kTag, "credential load did_fail_to_connect");
    }
    if (response && !errorOf(response) && transport) {
        // The short form of the site: scheme and host.
        std::string shortForm = siteUrl;
        auto scheme = siteUrl.find("://");
        if (scheme != std::string::npos) {
            auto hostEnd = siteUrl.find_first_of("/?#", scheme + 3);
            shortForm = siteUrl.substr(0, hostEnd);
        }
        updateAccountsCacheForHardwareId(transport->deviceInfo()->bleId(), shortForm);
    }
    return response;
}

std::shared_ptr<TBNError> TBNThriftRemoteMobileSevice::processingError(
    const std::shared_ptr<TBNError>& error) {
    if (error && error->category() == 1 && error->id() == 1) {
        std::weak_ptr<TBNThriftRemoteMobileSevice> weak = weak_from_this();
        async([weak] {
            auto self = weak.lock();
            if (!self) return;
            auto device = self->settings_->firstPairedDevice();
            self->unpairFromDevice(device ? device->deviceId() : std::nullopt);
            if (auto d = self->delegate()) d->remoteMobileShowClientNotAuthorized(*self);
        });
    }
    return error;
}

}  // namespace lumvane
