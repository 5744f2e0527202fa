#include "app/SecurityKeyBridge.h"

#include "u2f/U2FAuthenticatorBridge.h"

namespace lumvane {

void SecurityKeyBridge::setupRegisterCallback(Answer answer) {
    U2FAuthenticatorBridge::setupRegisterCallback(std::move(answer));
}

void SecurityKeyBridge::setupAuthenticationCallback(Answer answer) {
    U2FAuthenticatorBridge::setupAuthenticationCallback(std::move(answer));
}

bool SecurityKeyBridge::running() const {
    return U2FAuthenticatorBridge::running();
}

bool SecurityKeyBridge::start() {
    return U2FAuthenticatorBridge::start();
}

void SecurityKeyBridge::stop() {
    U2FAuthenticatorBridge::stop();
}

void connectSecurityKey(TBNThriftRemoteMobileSevice& service) {
    service.setU2FBridge(std::make_shared<SecurityKeyBridge>());
}

}  // namespace lumvane
