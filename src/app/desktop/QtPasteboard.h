#pragma once
// The desktop clipboard (QClipboard) behind the core's Pasteboard. Any thread: calls from
// other threads are carried out on the GUI thread and waited for. A text written here is
// marked as a secret (x-kde-passwordManagerHint), so clipboard managers that honour the
// mark do not keep it in their history.
#include <memory>
#include <optional>
#include <string>

#include "core/pasteboard/Pasteboard.h"

class QObject;

namespace lumvane {

class QtPasteboard : public Pasteboard {
  public:
    static constexpr const char* kPasswordHintType = "x-kde-passwordManagerHint";
    static constexpr const char* kPasswordHintValue = "secret";

    // Needs a QGuiApplication.
    QtPasteboard();
    ~QtPasteboard() override;

    bool setString(const std::string& text) override;
    std::optional<std::string> string() const override;
    bool belongsToMainThread() const override { return true; }

  private:
    QObject* context_;
};

}  // namespace lumvane
