#pragma once
// The system clipboard as the core sees it, and the copy that clears itself.
//
// Pasteboard is the platform layer: the application shell installs its QClipboard
// implementation with Pasteboard::setGeneral(); headless runs and tests use the
// in-memory MemoryPasteboard. Implementations may be called from any thread (the Qt one
// hands the call to the GUI thread).
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/MainLoop.h"

namespace lumvane {

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    // Declares the plain-text type and writes the text; false when the clipboard refused.
    virtual bool setString(const std::string& text) = 0;
    // The clipboard's current plain text; nothing when it holds none.
    virtual std::optional<std::string> string() const = 0;
    // Whether the clipboard lives on the main loop's thread (a GUI toolkit's): calls from
    // other threads then wait for that thread.
    virtual bool belongsToMainThread() const { return false; }

    // The process's clipboard: the one installed, else a MemoryPasteboard made on first use.
    static std::shared_ptr<Pasteboard> general();
    static void setGeneral(std::shared_ptr<Pasteboard> pasteboard);
};

class MemoryPasteboard : public Pasteboard {
  public:
    bool setString(const std::string& text) override;
    std::optional<std::string> string() const override;
    // Makes the next writes fail (a clipboard that refuses).
    void setRefuseWrites(bool refuse);

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> text_;
    bool refuse_ = false;
};

// Puts a text on the clipboard and clears it again after a number of seconds, unless the
// user copied something else meanwhile. The expiry runs on the main loop (and its Clock).
class TBNPasteboard : public std::enable_shared_from_this<TBNPasteboard> {
  public:
    // The shared instance on Pasteboard::general() and MainLoop::main().
    static std::shared_ptr<TBNPasteboard> generalPasteboard();
    static std::shared_ptr<TBNPasteboard> create(std::shared_ptr<Pasteboard> pasteboard,
                                                 std::shared_ptr<MainLoop> loop);

    // Cancels a pending expiry, writes the text and, for interval > 0, clears it after
    // `interval` seconds if the clipboard still holds it. False (and no expiry) when the
    // clipboard refused the text. Any thread: with a clipboard of the main thread the
    // whole copy is carried out there (the caller waits, holding nothing), so a copy on
    // the main thread and one from another thread never wait for each other.
    bool setString(const std::string& text, double withExpirationTimeInterval);
    // How long a copy from another thread waits for a busy main loop before it gives up
    // (false, nothing written).
    static constexpr double kMainThreadWaitSeconds = 30.0;
    bool setStringToPasteboard(const std::string& text);
    // The expiry (main thread).
    void timerRunner(uint64_t generation);

    // The text whose expiry is pending, nothing when none.
    std::optional<std::string> string() const;
    bool expiryPending() const;

    TBNPasteboard(std::shared_ptr<Pasteboard> pasteboard, std::shared_ptr<MainLoop> loop);

  private:
    bool copy(const std::string& text, double interval);

    const std::shared_ptr<Pasteboard> pasteboard_;
    const std::shared_ptr<MainLoop> loop_;
    // One copy or expiry at a time. Never held while waiting for another thread: with a
    // clipboard of the main thread it is only ever taken on that thread.
    std::mutex callMutex_;
    mutable std::mutex stateMutex_;  // string_, timer_, generation_
    std::optional<std::string> string_;
    MainLoop::TaskId timer_ = 0;
    uint64_t generation_ = 0;  // bumped by every cancellation and new expiry
};

// Feature switches.
class TBNSettings;
class TBNOSXFeatureManager {
  public:
    // U2F security keys: the extended mode and the security-key switch are both on.
    static bool yubikey();
    static bool yubikey(TBNSettings& settings);
    // The local HTTPS identity is used.
    static bool generateSSLCerts() { return true; }
};

}  // namespace lumvane
