#pragma once
// The extension handlers the application service runs in the program. Header only: the
// handlers live in their own library (lumvane_ext_handlers), which the program links,
// while the core library stays free of it.
#include <memory>

#include "core/service/TBNService.h"
#include "extension/handlers/TBNThriftHostService.h"
#include "extension/handlers/TBNThriftProxy.h"

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
            auto made = TBNExtensionProcessors::make(
                hostService, std::weak_ptr<TBNStorageService>(remote), o);
            p.hostStorage = made.hostStorage;
            p.storage = made.storage;
            p.keepAlive = made.proxy;
            return p;
        };
        f.openExtensionRegistration = [](TBNHostStorageService& host) {
            if (auto* h = dynamic_cast<TBNThriftHostService*>(&host)) h->openExtensionRegistration();
        };
        return f;
    }
};

}  // namespace lumvane
