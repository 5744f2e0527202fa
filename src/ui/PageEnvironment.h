#pragma once
// What the pages use of the rest of the program, in one place so that tests can hand in
// fakes: the clock behind every page timer, the settings store, the clipboard, the
// rating sender, file dialogs, the favicon download and the security-key driver set-up.
// Main (GUI) thread only.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace lumvane {

class Clock;
class TBNPasteboard;
class TBNSettings;
class TBNDriverSetup;

namespace ui {

// A file or folder question put to the user with a dialog.
struct FileQuestion {
    enum class Kind { OpenFile, SaveFile, Folder };
    Kind kind = Kind::OpenFile;
    QString title;
    QString directory;
    QString proposedName;
    QString filter;  // e.g. "Lumvane backups (*.lmbk);;All files (*)"
};

// Fetches the bytes at `url` and calls `done` on the main thread with them, or with
// nothing when the download failed or took too long.
using Fetcher =
    std::function<void(const QString& url, std::function<void(std::optional<QByteArray>)> done)>;

struct PageEnvironment {
    std::shared_ptr<Clock> clock;
    // Not owned; the process-wide store unless a test hands in its own.
    TBNSettings* settings = nullptr;
    std::shared_ptr<TBNPasteboard> pasteboard;
    // Shows that a generated password is now on the clipboard.
    std::function<void()> notifyPasswordCopied;
    // What the rating page records: ask again later, never, or a rating was sent.
    enum class RateRecord { Skip, Cancel, Success };
    std::function<void(RateRecord)> recordRate;
    // Sends a rating of 1 to 5 stars to the maker's feedback service.
    std::function<void(int64_t stars)> sendRating;
    // Asks the user for a path; nothing when the dialog was cancelled.
    std::function<std::optional<QString>(QWidget* parent, const FileQuestion& question)> chooseFile;
    // Opens a web address in the user's browser.
    std::function<void(const QString& url)> openUrl;
    // Downloads favicons; never set to a network fetcher in tests.
    Fetcher fetchFavicon;
    // Where favicons are cached ($XDG_CACHE_HOME/Lumvane/favicons by default).
    QString faviconCacheFolder;
    // Access to /dev/uhid for the virtual security key.
    std::shared_ptr<TBNDriverSetup> driverSetup;
    // Starts the virtual security key once its driver is usable.
    std::function<void()> startSecurityKey;
    // The application's version as shown on the About page.
    QString version;
};

// The environment every page uses. Made on first use from the process-wide objects;
// replaced whole by tests (or by the application at start-up).
const PageEnvironment& environment();
void setEnvironment(PageEnvironment environment);
// The defaults of each field (the real clock, settings, clipboard, dialogs, network).
PageEnvironment defaultEnvironment();

}  // namespace ui
}  // namespace lumvane
