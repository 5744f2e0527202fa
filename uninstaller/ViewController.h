#pragma once
// The uninstaller's one window: four switches with labels that show the folders, Cancel
// and Uninstall. Uninstall runs the removal steps on the main thread and then ends the
// application with the run's exit status.
#include <functional>

#include <QWidget>

#include "uninstaller/Uninstaller.h"
#include "uninstaller/UninstallerOptions.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace lumvane {

class ViewController : public QWidget {
  public:
    // Asks "Are you sure you want to delete your backups?"; true for "Yes".
    using Confirmation = std::function<bool()>;
    // Shown after a run that had failures, with every failure.
    using FailureNotice = std::function<void(const UninstallReport& report)>;
    // Ends the application with the exit status.
    using Finish = std::function<void(int status)>;

    explicit ViewController(UninstallEnvironment environment, QWidget* parent = nullptr);

    void setConfirmation(Confirmation confirmation) { confirmation_ = std::move(confirmation); }
    void setFailureNotice(FailureNotice notice) { failureNotice_ = std::move(notice); }
    void setFinish(Finish finish) { finish_ = std::move(finish); }

    void updateOptionLabels();
    void updateControlStates();
    void confirmBackupRemoval();
    void performUninstall();

    // Actions of the switches and buttons.
    void removeAppAction();
    void removePreferencesAction();
    void removeBackupsAction();
    void cancelAction();
    void uninstallAction();

    const UninstallerOptions& options() const { return options_; }
    const UninstallReport& lastReport() const { return lastReport_; }

    QCheckBox* removeAppSwith = nullptr;
    QLabel* removeAppTextField = nullptr;
    QCheckBox* removePreferencesSwith = nullptr;
    QLabel* removePreferencesTextField = nullptr;
    QCheckBox* leaveLogsSwith = nullptr;
    QLabel* keepLogsTextField = nullptr;
    QCheckBox* removeBackupsSwith = nullptr;
    QLabel* removeBackupsTextField = nullptr;
    QPushButton* uninstallPressButton = nullptr;
    QPushButton* cancelButton = nullptr;

  private:
    void viewDidLoad();
    void showFailures(const UninstallReport& report);

    UninstallEnvironment environment_;
    UninstallerOptions options_;
    UninstallReport lastReport_;
    Confirmation confirmation_;
    FailureNotice failureNotice_;
    Finish finish_;
};

}  // namespace lumvane
