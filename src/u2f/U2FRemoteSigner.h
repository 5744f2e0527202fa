#pragma once
// What the security key needs of the remote phone service: passing a raw register or
// authenticate request to the paired phone and answering the phone's raw response,
// or nothing (feature off, no phone online, the phone failed, or it took too long).
// Both calls may block for minutes; they are made on a background queue.
#include <optional>

#include "runtime/Bytes.h"

namespace lumvane {

class U2FRemoteSigner {
  public:
    virtual ~U2FRemoteSigner() = default;
    virtual std::optional<Bytes> registerYubikeyWithRaw(const Bytes& raw) = 0;
    virtual std::optional<Bytes> authenticationYubikeyWithRaw(const Bytes& raw) = 0;
};

}  // namespace lumvane
