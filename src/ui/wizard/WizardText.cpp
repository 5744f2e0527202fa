#include "ui/wizard/WizardText.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/shell/LocalizationExtensions.h"

namespace lumvane {

namespace {

const QJsonObject& builtInTexts() {
    static const QJsonObject texts = [] {
        QFile file(QStringLiteral(":/wizard/strings.json"));
        if (!file.open(QIODevice::ReadOnly)) return QJsonObject();
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return texts;
}

}  // namespace

QString wizardText(const std::string& key) {
    const std::string translated = LocalizationExtensions::localizedString(key);
    if (translated != key) return QString::fromStdString(translated);
    const auto found = builtInTexts().find(QString::fromStdString(key));
    if (found != builtInTexts().end()) return found->toString();
    return QString::fromStdString(key);
}

}  // namespace lumvane
