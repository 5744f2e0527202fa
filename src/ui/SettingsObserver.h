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

// The widget owns the observer, so an observer still alive on the GUI thread means the
// widget is too; the settings' threads never touch the widget.
class SettingsObserver : public TBNSettingsDelegate,
                         public std::enable_shared_from_this<SettingsObserver> {
  public:
    SettingsObserver(QObject* owner, std::function<void(TBNSettingsComponents)> changed)
        : owner_(owner), changed_(std::move(changed)) {}

    void settingsDidUpdated(TBNSettings&, TBNSettingsComponents components) override {
        std::weak_ptr<SettingsObserver> weak = weak_from_this();
        onMain(nullptr, [weak, components] {
            if (auto self = weak.lock(); self && self->owner_) self->changed_(components);
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
