#pragma once
// The text of a localisation key for the wizard's widgets: the application's strings
// table first, then the wizard's own English texts, else the key itself.
#include <QString>

#include <string>

namespace lumvane {

QString wizardText(const std::string& key);

}  // namespace lumvane
