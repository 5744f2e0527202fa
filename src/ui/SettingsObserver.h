#pragma once
// A settings observer that hands the components of each change to a widget on the GUI
// thread, for as long as the widget lives.
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "settings/TBNSettings.h"
#include "ui/PageSupport.h"

namespace lumvane::ui {

class SettingsObserver : public TBNSettingsDelegate {
  public:
    SettingsObserver(QObject* owner, std::function<void(TBNSettingsComponents)> changed)
        : owner_(owner), changed_(std::move(changed)) {}

    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) override {
        QPointer<QObject> owner = owner_;
        auto changed = changed_;
        onMain(nullptr, [owner, changed, components] {
            if (owner) changed(components);
        });
    }

    static std::shared_ptr<SettingsObserver> observe(
        TBNSettings* settings, QObject* owner, std::function<void(TBNSettingsComponents)> changed) {
        auto observer = std::make_shared<SettingsObserver>(owner, std::move(changed));
        if (settings) settings->addDelegate(observer);
        return observer;
    }

  private:
    QPointer<QObject> owner_;
    std::function<void(TBNSettingsComponents)> changed_;
};

}  // namespace lumvane::ui
