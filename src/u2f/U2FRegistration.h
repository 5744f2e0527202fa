#pragma once
// A security-key registration: one keychain key pair tied to a site's application
// parameter, named by a key handle (the pair's application label followed by 50 zero
// bytes). All registrations keep their pairs under one keychain label.
#include <map>
#include <optional>
#include <string>

#include "runtime/Bytes.h"
#include "u2f/BytesLess.h"
#include "u2f/KeyPair.h"

namespace lumvane {

class U2FRegistration {
  public:
    // The keychain label of every registration's pair.
    static std::string keyLabel();
    static void setKeyLabel(std::string label);

    // The pair tagged with the parameter, else a new pair tagged with it.
    static std::optional<U2FRegistration> registerFor(const Bytes& applicationParameter,
                                                      bool inSecureEnclave);
    // The registration whose key handle this is, when it was made for that parameter.
    static std::optional<U2FRegistration> find(const Bytes& keyHandle,
                                               const Bytes& applicationParameter);

    const KeyPair& keyPair() const { return keyPair_; }
    const Bytes& applicationParameter() const { return applicationParameter_; }
    Bytes keyHandle() const;
    std::optional<Bytes> sign(const Bytes& data) const;

  private:
    U2FRegistration(KeyPair keyPair, Bytes applicationParameter)
        : keyPair_(std::move(keyPair)), applicationParameter_(std::move(applicationParameter)) {}

    KeyPair keyPair_;
    Bytes applicationParameter_;
};

const Bytes& keyHandlePadding();
Bytes padKeyHandle(const Bytes& bytes);
// All but the last 50 bytes when longer than 50; otherwise the bytes unchanged.
Bytes unpadKeyHandle(const Bytes& bytes);

const std::map<Bytes, std::string, BytesLess>& knownFacetNames();
std::string facetName(const Bytes& applicationParameter);
// "authenticate with " and the facet name.
std::string registrationPrompt(const Bytes& applicationParameter);

}  // namespace lumvane
