#include "u2f/U2FRegistration.h"

#include <cstdio>
#include <mutex>

namespace lumvane {

namespace {
std::mutex& labelMutex() {
    static std::mutex m;
    return m;
}
std::string& labelSlot() {
    static std::string label = "LumvaneU2F Security Key";
    return label;
}
}  // namespace

std::string U2FRegistration::keyLabel() {
    std::lock_guard lock(labelMutex());
    return labelSlot();
}

void U2FRegistration::setKeyLabel(std::string label) {
    std::lock_guard lock(labelMutex());
    labelSlot() = std::move(label);
}

const Bytes& keyHandlePadding() {
    static const Bytes padding(50, 0x00);
    return padding;
}

Bytes padKeyHandle(const Bytes& bytes) {
    Bytes out = bytes;
    out.insert(out.end(), keyHandlePadding().begin(), keyHandlePadding().end());
    return out;
}

Bytes unpadKeyHandle(const Bytes& bytes) {
    size_t pad = keyHandlePadding().size();
    if (bytes.size() <= pad) return bytes;
    return Bytes(bytes.begin(), bytes.end() - static_cast<long>(pad));
}

const std::map<Bytes, std::string, BytesLess>& knownFacetNames() {
    static const std::map<Bytes, std::string, BytesLess> names = {{Bytes(32, 0x41), "bogus"}};
    return names;
}

std::string facetName(const Bytes& applicationParameter) {
    auto it = knownFacetNames().find(applicationParameter);
    return it == knownFacetNames().end() ? "site" : it->second;
}

std::string registrationPrompt(const Bytes& applicationParameter) {
    return "authenticate with " + facetName(applicationParameter);
}

std::optional<U2FRegistration> U2FRegistration::registerFor(const Bytes& applicationParameter,
                                                            bool inSecureEnclave) {
    std::string prompt = registrationPrompt(applicationParameter);
    std::string label = keyLabel();
    if (auto found = KeyPair::findByApplicationTag(label, applicationParameter, prompt))
        return U2FRegistration(*found, applicationParameter);
    auto pair = KeyPair::generate(label, inSecureEnclave);
    if (!pair) return std::nullopt;
    pair->setApplicationTag(applicationParameter);
    return U2FRegistration(*pair, applicationParameter);
}

std::optional<U2FRegistration> U2FRegistration::find(const Bytes& keyHandle,
                                                     const Bytes& applicationParameter) {
    Bytes applicationLabel = unpadKeyHandle(keyHandle);
    std::string prompt = registrationPrompt(applicationParameter);
    auto pair = KeyPair::findByApplicationLabel(keyLabel(), applicationLabel, prompt);
    if (!pair) return std::nullopt;
    auto tag = pair->applicationTag();
    if (!tag) return std::nullopt;
    if (*tag != applicationParameter) {
        std::printf("Bad applicationParameter\n");
        return std::nullopt;
    }
    return U2FRegistration(*pair, *tag);
}

Bytes U2FRegistration::keyHandle() const {
    return padKeyHandle(keyPair_.applicationLabel());
}

std::optional<Bytes> U2FRegistration::sign(const Bytes& data) const {
    return keyPair_.sign(data);
}

}  // namespace lumvane
