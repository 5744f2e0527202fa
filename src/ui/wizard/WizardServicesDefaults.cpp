// The program's services behind the wizard pages.
#include "app/shell/ServiceLayerBridges.h"
#include "core/importexport/ImportExportService.h"
#include "core/importexport/RemoteImportExportPhone.h"
#include "core/pasteboard/Pasteboard.h"
#include "runtime/DispatchQueue.h"
#include "settings/TBNSettings.h"
#include "ui/wizard/WizardServices.h"

namespace lumvane {

namespace {

bool browserInstalled(const TBNBrowserExtensionManager& m, TBNBrowser browser) {
    switch (browser) {
        case TBNBrowser::Safari:
            return m.isSafariInstalled();
        case TBNBrowser::Chrome:
            return m.isChromeInstalled();
        case TBNBrowser::Chromium:
            return m.isChromiumInstalled();
        case TBNBrowser::Edge:
            return m.isEdgeInstalled();
        case TBNBrowser::Firefox:
            return m.isFirefoxInstalled();
        case TBNBrowser::Opera:
            return m.isOperaInstalled();
        case TBNBrowser::Brave:
            return m.isBraveInstalled();
        case TBNBrowser::Vivaldi:
            return m.isVivaldiInstalled();
    }
    return false;
}

void installBrowserExtension(TBNBrowserExtensionManager& m, TBNBrowser browser) {
    switch (browser) {
        case TBNBrowser::Safari:
            m.installSafariExtension();
            return;
        case TBNBrowser::Chrome:
            m.installChromeExtension();
            return;
        case TBNBrowser::Chromium:
            m.installChromiumExtension();
            return;
        case TBNBrowser::Edge:
            m.installEdgeExtension();
            return;
        case TBNBrowser::Firefox:
            m.installFirefoxExtension();
            return;
        case TBNBrowser::Opera:
            m.installOperaExtension();
            return;
        case TBNBrowser::Brave:
            m.installBraveExtension();
            return;
        case TBNBrowser::Vivaldi:
            m.installVivaldiExtension();
            return;
    }
}

}  // namespace

WizardServices wizardServicesFor(const std::shared_ptr<TBNService>& service) {
    WizardServices s;
    s.settings = service->settings().shared_from_this();
    s.runAsync = [](std::function<void()> block) {
        DispatchQueue::global(DispatchQueue::Priority::High)->async(std::move(block));
    };
    std::weak_ptr<TBNService> weak = service;
    s.canSupportBluetoothLowEnergy = [weak] {
        auto service = weak.lock();
        return service && service->canSupportBluetoothLowEnergy();
    };
    s.locationZone = [] {
        return TBNLocationAccessibilityRepositoryBridge::shareRepository()->accessibilityZone();
    };
    s.isBrowserInstalled = [](TBNBrowser browser) {
        return browserInstalled(TBNBrowserExtensionManager::sharedManager(), browser);
    };
    s.installExtension = [](TBNBrowser browser) {
        installBrowserExtension(TBNBrowserExtensionManager::sharedManager(), browser);
    };
    s.openExtensionRegistration = [weak] {
        if (auto service = weak.lock()) service->openExtensionRegistration();
    };
    // The identity question follows the service's own: the same switch and source, so a
    // run that never creates an identity (the simulated radio) never offers it here either.
    s.generateSSLCerts = TBNOSXFeatureManager::generateSSLCerts();
    s.isSetupedSSLIdentity = [weak] {
        auto service = weak.lock();
        return !service || !service->wouldAskForSSLIdentity();
    };
    s.setupSSLIdentity = [weak] {
        auto service = weak.lock();
        const auto& source = service ? service->identitySource() : TBNServiceIdentitySource{};
        return source.setup ? source.setup() : false;
    };
    s.startService = [weak] {
        if (auto service = weak.lock()) service->start();
    };
    s.stopService = [weak] {
        if (auto service = weak.lock()) service->stop();
    };
    s.startPair = [weak](TBNService::PairURLHandler url, TBNService::PairProcessHandler process,
                         TBNService::PairSuccessHandler success, TBNService::PairFailHandler fail) {
        if (auto service = weak.lock()) {
            service->startPairWithAuthUrl(std::move(url), std::move(process), std::move(success),
                                          std::move(fail));
        }
    };
    s.stopPair = [weak] {
        if (auto service = weak.lock()) service->stopPair();
    };

    ImportExportService::Options io;
    io.phone = remoteImportExportPhone(service->remoteService());
    auto settings = s.settings;
    io.hasPairedDevice = [settings] { return settings->firstPairedDevice() != nullptr; };
    auto importExport = ImportExportService::create(std::move(io));
    s.importFile = [importExport](int32_t source, const std::filesystem::path& file,
                                  WizardServices::Callback approved,
                                  WizardServices::Started started,
                                  WizardServices::Callback completion) {
        importExport->importWithSourceType(source, file, std::move(approved), std::move(started),
                                           std::move(completion));
    };
    s.cancelImport = [importExport] { importExport->cancelImport(); };
    s.exportFile = [importExport](int32_t destination, const std::filesystem::path& file,
                                  WizardServices::Callback approved,
                                  WizardServices::Started started,
                                  WizardServices::Callback completion) {
        importExport->exportWithDestinationType(destination, file, std::move(approved),
                                                std::move(started), std::move(completion));
    };
    s.cancelExport = [importExport] { importExport->cancelExport(); };
    return s;
}

}  // namespace lumvane
