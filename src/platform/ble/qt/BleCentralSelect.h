#pragma once
// The central a "--ble=" value asks for: "qt" (also an empty value) for Qt
// Bluetooth on BlueZ, "sim:PATH" for the simulated radio at the socket PATH.
#include <memory>
#include <optional>
#include <string>

#include "platform/ble/BleCentral.h"

namespace lumvane::ble {

// Nothing for a value no back end serves.
std::optional<BleCentralFactory> makeBleCentralFactory(const std::string& spec);

// A central made by the factory of `spec`; null for a value no back end serves.
std::shared_ptr<BleCentral> makeBleCentral(const std::string& spec,
                                           std::weak_ptr<BleCentralDelegate> delegate,
                                           std::shared_ptr<DispatchQueue> queue,
                                           const BleCentralOptions& options = {});

}  // namespace lumvane::ble
