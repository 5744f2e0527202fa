#pragma once
// The software-update kit as the application sees it: background checks (10 s after the
// start and every hour), the interactive check of the menu, and the two answers the
// application gives as its delegate. Linux installs come from the package manager, so
// the one implementation here reports that there is no update service and never
// downloads anything.
#include <string>

namespace lumvane {

class SoftwareUpdaterDelegate {
  public:
    virtual ~SoftwareUpdaterDelegate() = default;
    // Whether pre-releases are offered (the extended settings' switch).
    virtual bool updaterShouldOfferPrereleases() = 0;
    // An update is about to be downloaded.
    virtual void updaterWillDownloadUpdate() = 0;
};

class SoftwareUpdater {
  public:
    virtual ~SoftwareUpdater() = default;
    virtual void setDelegate(SoftwareUpdaterDelegate* delegate) = 0;
    // A check that shows nothing unless an update is found.
    virtual void checkInBackground() = 0;
    // The menu's check; answers what to tell the user.
    virtual std::string checkInteractively() = 0;
};

class NoUpdateService : public SoftwareUpdater {
  public:
    static constexpr const char* kAnswer = "no update service";
    void setDelegate(SoftwareUpdaterDelegate* delegate) override { delegate_ = delegate; }
    void checkInBackground() override {}
    std::string checkInteractively() override { return kAnswer; }

  private:
    SoftwareUpdaterDelegate* delegate_ = nullptr;
};

}  // namespace lumvane
