#pragma once
// The built-in attestation certificate and its P-256 key: the certificate's DER,
// ECDSA/SHA-256 signatures with the key, and measuring a DER certificate at the
// start of a buffer. Failures print one line to standard output and give nothing.
#include <optional>

#include "runtime/Bytes.h"

namespace lumvane {

class SelfSignedCertificate {
  public:
    static std::optional<Bytes> toDer();
    // DER ECDSA-Sig-Value of SHA-256(data), made with the attestation key.
    static std::optional<Bytes> signData(const Bytes& data);
    // True when the bytes begin with a DER certificate; then `consumed` is its length.
    static bool parseX509(const Bytes& data, int& consumed);
};

}  // namespace lumvane
