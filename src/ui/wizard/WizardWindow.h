#pragma once
// The wizard window: a header with the product's name and version, the current page's
// widget, and the Cancel, Back and Next buttons of the container (WizardFlow). The window
// manager's close button goes through the container like Cancel, so closing the window
// always ends the wizard in a defined way.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/wizard/WizardFlow.h"
#include "ui/wizard/WizardServices.h"

class QAbstractButton;
class QPushButton;
class QVBoxLayout;

namespace lumvane {

// A page's widget: draws the page's state and hands the user's actions to the page.
class WizardPageWidget : public QWidget {
  public:
    explicit WizardPageWidget(QWidget* parent = nullptr) : QWidget(parent) {}
    virtual void refresh() = 0;
};

// The widget of a page (nullptr for a page without one).
WizardPageWidget* makeWizardPageWidget(const std::shared_ptr<WizardPage>& page);

// The on/off switch of the wizard (consent page).
class WizardSwitch;

class WizardWindow : public QWidget, public WizardFlowView {
  public:
    static constexpr int kWidth = 680;
    static constexpr int kHeight = 500;

    explicit WizardWindow(std::shared_ptr<WizardFlow> flow, QWidget* parent = nullptr);
    ~WizardWindow() override;

    const std::shared_ptr<WizardFlow>& flow() const { return flow_; }
    WizardPageWidget* pageWidget() const { return pageWidget_; }
    QPushButton* button(WizardButton button) const;

    // Puts the window on screen and shows the first page.
    void start();

    // The window's own alert and file panels (window-modal, answered asynchronously).
    void showAlert(const WizardAlert& alert, std::function<void(int button)> done);
    void chooseFile(const WizardFilePanel& panel,
                    std::function<void(std::optional<std::string> path)> done);
    // Fills the services that belong to a window (alerts, panels, activation) where the
    // caller left them empty.
    static void bindWindowServices(WizardServices& services, QPointer<WizardWindow> window);

    void wizardFlowButtonsChanged() override;
    void wizardFlowShowPage(const std::shared_ptr<WizardPage>& page) override;
    void wizardFlowRemovePage(const std::shared_ptr<WizardPage>& page) override;
    void wizardFlowCloseWindow() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    std::shared_ptr<WizardFlow> flow_;
    QVBoxLayout* contentLayout_ = nullptr;
    QPointer<WizardPageWidget> pageWidget_;
    QPushButton* buttons_[3] = {nullptr, nullptr, nullptr};
    bool inCloseEvent_ = false;
};

}  // namespace lumvane
