#pragma once

namespace lumvane {
extern const unsigned char kAttestationCertificateDer[];
extern const unsigned long kAttestationCertificateDerLength;
extern const unsigned char kAttestationPrivateKeyDer[];
extern const unsigned long kAttestationPrivateKeyDerLength;
}  // namespace lumvane
