#pragma once
// Joins the remote phone service to the virtual security key: the service installs its
// forwarding blocks here and starts or stops the key as the feature switch says.
#include <memory>

#include "core/remote/TBNThriftRemoteMobileSevice.h"

namespace lumvane {

class SecurityKeyBridge final : public TBNThriftRemoteMobileSevice::U2FBridge {
  public:
    void setupRegisterCallback(Answer answer) override;
    void setupAuthenticationCallback(Answer answer) override;
    bool running() const override;
    bool start() override;
    void stop() override;
};

// Hands the security key to the service (it starts the key when the feature is on).
void connectSecurityKey(TBNThriftRemoteMobileSevice& service);

}  // namespace lumvane
