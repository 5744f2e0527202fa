#pragma once
// The parts of the application service that live in other libraries, as the program
// wires them: the extension handlers (lumvane_ext_handlers), the extensions' logging
// service (lumvane_extlog) and the local TLS identity of the browser integration
// (lumvane_browser). Header only, so the core library stays free of them; the program
// links them.
//
//   TBNService::Options o;
//   TBNServiceHandlers::applyStandard(o);
#include <memory>

#include "core/service/TBNService.h"
#include "extension/browser/TBNBrowserExtensionManager.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "extension/handlers/TBNThriftProxy.h"
#include "runtime/extlog/TBNOSXLoggingService.h"

namespace lumvane {

struct TBNServiceHandlers {
    // The host-storage service and the storage handler (host service first, then the
    // phone) on the settings, wait manager and clock given.
    static TBNServiceHandlerFactories standard(std::shared_ptr<TBNSettings> settings = nullptr,
                                               std::shared_ptr<Clock> clock = nullptr) {
        TBNServiceHandlerFactories f;
        f.hostService = [settings, clock](std::weak_ptr<TBNThriftHostServiceDelegate> delegate,
                                          TBNWaitManager& waits) {
            TBNThriftHostService::Options o;
            o.settings = settings;
            o.waitManager = &waits;
            o.clock = clock;
            return std::static_pointer_cast<TBNHostStorageService>(
                TBNThriftHostService::initWithDelegate(std::move(delegate), o));
        };
        f.processors = [settings](const std::shared_ptr<TBNHostStorageService>& host,
                                  const std::shared_ptr<TBNThriftRemoteMobileSevice>& remote) {
            TBNServiceHandlerFactories::Processors p;
            auto hostService = std::dynamic_pointer_cast<TBNThriftHostService>(host);
            if (!hostService) return p;
            TBNThriftProxy::Options o;
            o.settings = settings;
            auto made = TBNExtensionProcessors::make(hostService,
                                                     std::weak_ptr<TBNStorageService>(remote), o);
            p.hostStorage = made.hostStorage;
            p.storage = made.storage;
            p.keepAlive = made.proxy;
            return p;
        };
        f.openExtensionRegistration = [](TBNHostStorageService& host) {
            if (auto* h = dynamic_cast<TBNThriftHostService*>(&host))
                h->openExtensionRegistration();
        };
        return f;
    }

    // The logging service at the settings' stored log level.
    static std::shared_ptr<TBNLoggingService> loggingService(TBNSettings& settings) {
        return TBNOSXLoggingService::create(settings.loggingLevel());
    }

    // The identity of the shared browser-extension manager.
    static TBNServiceIdentitySource identitySource() {
        TBNServiceIdentitySource s;
        s.isSetuped = [] {
            return TBNBrowserExtensionManager::sharedManager().isSetupedSSLIdentity();
        };
        s.isExpired = [] {
            return TBNBrowserExtensionManager::sharedManager().isExpiredSSLIdentity();
        };
        s.setup = [] { return TBNBrowserExtensionManager::sharedManager().setupSSLIdentity(); };
        s.identity = []() -> std::optional<SSLIdentity> {
            auto identity = TBNBrowserExtensionManager::sharedManager().sslIdentity();
            if (!identity) return std::nullopt;
            return SSLIdentity{identity->certificatePath, identity->privateKeyPath};
        };
        return s;
    }

    // Fills what is not set yet: handlers, logging service (needs o.settings or the
    // shared settings) and identity source.
    static void applyStandard(TBNService::Options& o) {
        auto settings = o.settings ? o.settings : TBNSettings::sharedSettings().shared_from_this();
        if (!o.handlers.hostService) o.handlers = standard(o.settings, o.clock);
        if (!o.loggingService) o.loggingService = loggingService(*settings);
        if (!o.identitySource.isSetuped) o.identitySource = identitySource();
    }
};

}  // namespace lumvane
