#pragma once
// The import window (source list, source file, progress) and the export window
// (destination list with the target file, progress). The reading, writing and the
// exchange with the phone happen in the service; these pages pick what and where, start
// the work and show its stages and outcome.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/wizard/WizardPage.h"

namespace lumvane {

inline constexpr const char* kImportPageId = "TBNWizardImportViewController";
inline constexpr const char* kImportSourceFilePageId = "TBNWizardImportSourceFileViewController";
inline constexpr const char* kImportProgressPageId = "TBNWizardImportProgressViewController";
inline constexpr const char* kExportPageId = "TBNWizardExportViewController";
inline constexpr const char* kExportProgressPageId = "TBNWizardExportProgressViewController";

// The rows of both lists: title key, file extension, the progress page's first subtitle
// and the save panel's proposed name.
struct ImportSourceInfo {
    std::string titleKey;
    std::string extension;  // empty: no file is asked for
    std::string startSubtitleKey;
};
std::optional<ImportSourceInfo> importSourceInfo(int32_t source);
struct ExportDestinationInfo {
    std::string titleKey;
    std::string extension;
    std::string defaultFileName;
};
std::optional<ExportDestinationInfo> exportDestinationInfo(int32_t destination);

// A file path long enough to be one (a single character is not).
bool isUsableFilePath(const std::string& path);

class WizardImportPage : public WizardPage {
  public:
    explicit WizardImportPage(std::shared_ptr<WizardContext> context)
        : WizardPage(kImportPageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    std::shared_ptr<WizardPage> nextPage() override;

    const std::vector<int32_t>& sources() const { return sources_; }
    int selectedRow() const { return selectedRow_; }
    void selectRow(int row);

  protected:
    void didLoad() override;

  private:
    std::vector<int32_t> sources_;
    int selectedRow_ = 0;
};

class WizardImportSourceFilePage : public WizardPage {
  public:
    WizardImportSourceFilePage(std::shared_ptr<WizardContext> context, int32_t type)
        : WizardPage(kImportSourceFilePageId, std::move(context)), type_(type) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    bool canEnableNextButton() const override { return isUsableFilePath(filePath_); }
    std::shared_ptr<WizardPage> nextPage() override;

    int32_t type() const { return type_; }
    const std::string& filePath() const { return filePath_; }
    // Typed by hand into the field.
    void setFilePath(const std::string& path);
    // The open panel; a dismissed panel changes nothing.
    void selectFile();

  private:
    int32_t type_;
    std::string filePath_;
};

// The progress page of both windows.
class WizardTransferProgressPage : public WizardPage {
  public:
    // Seconds between the outcome and the window closing by itself.
    static constexpr double kCloseDelay = 4.0;

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_FINISH"; }
    bool canEnableNextButton() const override { return done_ || failed_; }
    bool nextIsFinish(WizardSender) override { return true; }

    int32_t type() const { return type_; }
    const std::string& filePath() const { return filePath_; }
    // Nothing: the subtitle and the progress indicator are hidden.
    const std::optional<std::string>& subtitleKey() const { return subtitleKey_; }
    bool done() const { return done_; }
    bool failed() const { return failed_; }
    const std::string& failureMessage() const { return failureMessage_; }

  protected:
    WizardTransferProgressPage(std::string identifier, std::shared_ptr<WizardContext> context,
                               int32_t type, std::string filePath)
        : WizardPage(std::move(identifier), std::move(context)),
          type_(type),
          filePath_(std::move(filePath)) {}

    void setSubtitle(std::string key);
    void showFailure(const std::string& message);
    void complete(const std::optional<std::string>& error);
    void finishLater();

    int32_t type_;
    std::string filePath_;
    std::optional<std::string> subtitleKey_;
    bool done_ = false;
    bool failed_ = false;
    bool finishing_ = false;
    std::string failureMessage_;
};

class WizardImportProgressPage : public WizardTransferProgressPage {
  public:
    WizardImportProgressPage(std::shared_ptr<WizardContext> context, int32_t type,
                             std::string filePath)
        : WizardTransferProgressPage(kImportProgressPageId, std::move(context), type,
                                     std::move(filePath)) {}
    void didCancelClick(WizardSender sender) override;

  protected:
    void didLoad() override;
};

class WizardExportPage : public WizardPage {
  public:
    explicit WizardExportPage(std::shared_ptr<WizardContext> context)
        : WizardPage(kExportPageId, std::move(context)) {}

    std::optional<std::string> cancelButtonTitle() const override { return "BUTTON_CANCEL"; }
    std::optional<std::string> nextButtonTitle() const override { return "BUTTON_CONTINUE"; }
    bool canEnableNextButton() const override { return isUsableFilePath(filePath_); }
    std::shared_ptr<WizardPage> nextPage() override;

    const std::vector<int32_t>& destinations() const { return destinations_; }
    int selectedRow() const { return selectedRow_; }
    // A change of destination asks for the file again.
    void selectRow(int row);
    const std::string& filePath() const { return filePath_; }
    void setFilePath(const std::string& path);
    // The save panel with the destination's proposed name.
    void selectFile();

  protected:
    void didLoad() override;

  private:
    std::vector<int32_t> destinations_;
    int selectedRow_ = 0;
    std::string filePath_;
};

class WizardExportProgressPage : public WizardTransferProgressPage {
  public:
    WizardExportProgressPage(std::shared_ptr<WizardContext> context, int32_t type,
                             std::string filePath)
        : WizardTransferProgressPage(kExportProgressPageId, std::move(context), type,
                                     std::move(filePath)) {}
    void didCancelClick(WizardSender sender) override;

  protected:
    void didLoad() override;
};

}  // namespace lumvane
