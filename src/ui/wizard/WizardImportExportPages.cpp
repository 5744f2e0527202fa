#include "ui/wizard/WizardImportExportPages.h"

#include "ui/wizard/WizardServices.h"

namespace lumvane {

std::optional<ImportSourceInfo> importSourceInfo(int32_t source) {
    static const char* kParsing = "IMPORT_PROCESS_FILE_PARSING";
    static const char* kImporting = "IMPORT_PROCESS_DATA_IMPORTING";
    switch (source) {
        case 0:
            return ImportSourceInfo{"IMPORT_SOURCE_LUMVANE_JSON", "json", kParsing};
        case 1:
            return ImportSourceInfo{"IMPORT_SOURCE_LUMVANE_CSV", "csv", kParsing};
        case 2:
            return ImportSourceInfo{"IMPORT_SOURCE_LASTPASS_CSV", "csv", kParsing};
        case 3:
            return ImportSourceInfo{"IMPORT_SOURCE_DASHLANE_CSV", "csv", kParsing};
        case 4:
            return ImportSourceInfo{"IMPORT_SOURCE_KEEPASS_CSV", "csv", kParsing};
        case 5:
            return ImportSourceInfo{"IMPORT_SOURCE_TRUEKEY_CSV", "csv", kParsing};
        case 6:
            return ImportSourceInfo{"IMPORT_SOURCE_1PASSWORD_CSV", "csv", kParsing};
        case 7:
            return ImportSourceInfo{"IMPORT_SOURCE_DASHLANE_JSON", "json", kParsing};
        case 50:
            return ImportSourceInfo{"IMPORT_SOURCE_GOOGLE_ACCOUNT", "", kImporting};
        case 51:
            return ImportSourceInfo{"IMPORT_SOURCE_KEYCHAIN_WIFI_PASS", "", kImporting};
        case 52:
            return ImportSourceInfo{"IMPORT_SOURCE_KEYCHAIN_INTERNET_PASS", "", kImporting};
        default:
            return std::nullopt;
    }
}

std::optional<ExportDestinationInfo> exportDestinationInfo(int32_t destination) {
    switch (destination) {
        case 0:
            return ExportDestinationInfo{"EXPORT_DESTINATION_LUMVANE_JSON", "json",
                                         "Untitled.lumvane.json"};
        case 1:
            return ExportDestinationInfo{"EXPORT_DESTINATION_LUMVANE_CSV", "csv",
                                         "Untitled.lumvane.csv"};
        case 2:
            return ExportDestinationInfo{"EXPORT_DESTINATION_LASTPASS_CSV", "csv",
                                         "Untitled.lastpass.csv"};
        default:
            return std::nullopt;
    }
}

bool isUsableFilePath(const std::string& path) {
    return path.size() > 1;
}

// ---- Source list -------------------------------------------------------------------

void WizardImportPage::didLoad() {
    sources_ = {0, 2, 4, 5, 3, 7, 6};
    selectedRow_ = 0;
}

void WizardImportPage::selectRow(int row) {
    if (row < 0 || row >= static_cast<int>(sources_.size())) return;
    selectedRow_ = row;
    changed();
}

std::shared_ptr<WizardPage> WizardImportPage::nextPage() {
    const int32_t source = sources_.at(static_cast<size_t>(selectedRow_));
    if (source == 50 || source == 51 || source == 52) {
        return std::make_shared<WizardImportProgressPage>(context(), source, "");
    }
    return std::make_shared<WizardImportSourceFilePage>(context(), source);
}

// ---- Source file -------------------------------------------------------------------

void WizardImportSourceFilePage::setFilePath(const std::string& path) {
    filePath_ = path;
    updateButtons();
    changed();
}

void WizardImportSourceFilePage::selectFile() {
    WizardFilePanel panel;
    panel.kind = WizardFilePanel::Kind::Open;
    if (auto info = importSourceInfo(type_)) panel.extension = info->extension;
    auto self = std::static_pointer_cast<WizardImportSourceFilePage>(shared_from_this());
    context()->services.chooseFile(panel, [self](std::optional<std::string> path) {
        if (!path || self->context()->closed) return;
        self->setFilePath(*path);
    });
}

std::shared_ptr<WizardPage> WizardImportSourceFilePage::nextPage() {
    return std::make_shared<WizardImportProgressPage>(context(), type_, filePath_);
}

// ---- Progress (both windows) -------------------------------------------------------

void WizardTransferProgressPage::setSubtitle(std::string key) {
    if (done_ || failed_) return;
    subtitleKey_ = std::move(key);
    changed();
}

void WizardTransferProgressPage::showFailure(const std::string& message) {
    subtitleKey_.reset();
    failed_ = true;
    failureMessage_ = message;
    updateButtons();
    changed();
}

void WizardTransferProgressPage::complete(const std::optional<std::string>& error) {
    subtitleKey_.reset();
    if (error) {
        failed_ = true;
        failureMessage_ = *error;
    } else if (!failed_) {
        done_ = true;
    }
    updateButtons();
    changed();
    finishLater();
}

void WizardTransferProgressPage::finishLater() {
    // A refusal comes twice (approval, then completion); the window closes once.
    if (finishing_) return;
    finishing_ = true;
    onMainAfter(kCloseDelay, [](WizardPage& page) { page.goToNextView(); });
}

void WizardImportProgressPage::didLoad() {
    if (auto info = importSourceInfo(type_)) subtitleKey_ = info->startSubtitleKey;
    auto self = std::static_pointer_cast<WizardImportProgressPage>(shared_from_this());
    auto activate = [](WizardPage& page) {
        if (page.context()->services.activateWindow) page.context()->services.activateWindow();
    };
    context()->services.importFile(
        type_, filePath_,
        [self, activate](std::optional<std::string> error) {
            self->onMain([activate, error](WizardPage& page) {
                auto& progress = as<WizardImportProgressPage>(page);
                activate(page);
                if (!error) {
                    progress.setSubtitle("IMPORT_PROCESS_DATA_SENDING");
                    return;
                }
                progress.showFailure(*error);
                progress.finishLater();
            });
        },
        [self, activate] {
            self->onMain([activate](WizardPage& page) {
                auto& progress = as<WizardImportProgressPage>(page);
                progress.setSubtitle("IMPORT_PROCESS_WAITING_APPROVE");
                progress.updateButtons();
                activate(page);
            });
        },
        [self](std::optional<std::string> error) {
            self->onMain(
                [error](WizardPage& page) { as<WizardImportProgressPage>(page).complete(error); });
        });
}

void WizardImportProgressPage::didCancelClick(WizardSender) {
    if (context()->services.cancelImport) context()->services.cancelImport();
}

// ---- Export ------------------------------------------------------------------------

void WizardExportPage::didLoad() {
    destinations_ = {0, 2};
    selectedRow_ = 0;
    filePath_.clear();
    updateButtons();
}

void WizardExportPage::selectRow(int row) {
    if (row < 0 || row >= static_cast<int>(destinations_.size())) return;
    selectedRow_ = row;
    filePath_.clear();
    updateButtons();
    changed();
}

void WizardExportPage::setFilePath(const std::string& path) {
    filePath_ = path;
    updateButtons();
    changed();
}

void WizardExportPage::selectFile() {
    WizardFilePanel panel;
    panel.kind = WizardFilePanel::Kind::Save;
    if (auto info = exportDestinationInfo(destinations_.at(static_cast<size_t>(selectedRow_)))) {
        panel.extension = info->extension;
        panel.defaultName = info->defaultFileName;
    }
    auto self = std::static_pointer_cast<WizardExportPage>(shared_from_this());
    context()->services.chooseFile(panel, [self](std::optional<std::string> path) {
        if (!path || self->context()->closed) return;
        self->setFilePath(*path);
    });
}

std::shared_ptr<WizardPage> WizardExportPage::nextPage() {
    return std::make_shared<WizardExportProgressPage>(
        context(), destinations_.at(static_cast<size_t>(selectedRow_)), filePath_);
}

void WizardExportProgressPage::didLoad() {
    subtitleKey_ = "EXPORT_PROCESS_WAITING_APPROVE";
    auto self = std::static_pointer_cast<WizardExportProgressPage>(shared_from_this());
    auto activate = [](WizardPage& page) {
        if (page.context()->services.activateWindow) page.context()->services.activateWindow();
    };
    context()->services.exportFile(
        type_, filePath_,
        [self, activate](std::optional<std::string> error) {
            self->onMain([activate, error](WizardPage& page) {
                auto& progress = as<WizardExportProgressPage>(page);
                activate(page);
                if (!error) {
                    progress.setSubtitle("EXPORT_PROCESS_WAITING_DATA");
                    return;
                }
                progress.showFailure(*error);
                progress.finishLater();
            });
        },
        [self, activate] {
            self->onMain([activate](WizardPage& page) {
                activate(page);
                as<WizardExportProgressPage>(page).setSubtitle("EXPORT_PROCESS_SAVING_DATA");
            });
        },
        [self, activate](std::optional<std::string> error) {
            self->onMain([activate, error](WizardPage& page) {
                activate(page);
                as<WizardExportProgressPage>(page).complete(error);
            });
        });
}

void WizardExportProgressPage::didCancelClick(WizardSender) {
    if (context()->services.cancelExport) context()->services.cancelExport();
}

}  // namespace lumvane
