#include "platform/ble/qt/BleCentralSelect.h"

#include "platform/ble/qt/QtBleCentral.h"

namespace lumvane::ble {

std::optional<BleCentralFactory> makeBleCentralFactory(const std::string& spec) {
    if (spec.empty() || spec == "qt") {
        return BleCentralFactory([](std::weak_ptr<BleCentralDelegate> delegate,
                                    std::shared_ptr<DispatchQueue> queue,
                                    const BleCentralOptions& options) {
            return qt::createQtBleCentral(std::move(delegate), std::move(queue), options);
        });
    }
    return bleCentralFactoryForSpec(spec);
}

std::shared_ptr<BleCentral> makeBleCentral(const std::string& spec,
                                           std::weak_ptr<BleCentralDelegate> delegate,
                                           std::shared_ptr<DispatchQueue> queue,
                                           const BleCentralOptions& options) {
    auto factory = makeBleCentralFactory(spec);
    if (!factory) return nullptr;
    return (*factory)(std::move(delegate), std::move(queue), options);
}

}  // namespace lumvane::ble
