#pragma once
// The software-update kit as the application sees it: background checks (10 s after the
// start and every hour), the interactive check of the menu, and the two answers the
// application gives as its delegate. Linux copies come from the Debian package (updated
// by the package manager) or from the sources (updated by building again), so the one
// implementation here says which, and never downloads anything.
#include <filesystem>
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

// What the menu's check tells about `program`: the package manager updates it when dpkg
// lists it in the package lumvane (its file list in `dpkgInfoFolder`); otherwise it was
// built from the sources, and building again updates it.
std::string updateCheckText(const std::filesystem::path& program,
                            const std::filesystem::path& dpkgInfoFolder = "/var/lib/dpkg/info");

class NoUpdateService : public SoftwareUpdater {
  public:
    void setDelegate(SoftwareUpdaterDelegate* delegate) override { delegate_ = delegate; }
    void checkInBackground() override {}
    // About the running program.
    std::string checkInteractively() override;

  private:
    SoftwareUpdaterDelegate* delegate_ = nullptr;
};

}  // namespace lumvane
