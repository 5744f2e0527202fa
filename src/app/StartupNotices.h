#pragma once
// What the person who started the program needs to hear about its surroundings: one
// "lumvane: ..." line each, once per start, for what is off and what to do about it,
// instead of library noise on standard error and error lines in the log at every start.
//
// The texts are shared with the desktop application, which shows them as notices.
#include <functional>
#include <optional>
#include <string>

#include "platform/ble/BleCentral.h"

namespace lumvane {

// One whole "lumvane: <text>" line on standard output (safe from any thread).
void sayToUser(const std::string& text);
// Text as it stands (several lines, e.g. a QR code), under the same lock.
void writeToUser(const std::string& text);
// The same, at most once per process for the topic. These are the start-up texts: each
// also reaches the start-up notice sink, once set.
void sayToUserOnce(const std::string& topic, const std::string& text);
// A line and, in the desktop, a notice, each time it is said: news that comes and goes
// (saves failing and working again). Reaches the sink like the start-up texts.
void tellUser(const std::string& text);
// Where the desktop shows the start-up texts (any thread calls it). Every text said with
// sayToUserOnce reaches it once, also those said before it was set (at once, in the order
// said). An empty sink stops the forwarding.
void setStartupNoticeSink(std::function<void(const std::string& text)> sink);

namespace notice {
// No adapter, or one switched off or not allowed (state of the Bluetooth back end).
std::string bluetoothText(ble::CentralState state);
// The virtual security key could not open /dev/uhid.
std::string uhidText(bool deviceExists);
// No Secret Service answered: the settings key lives in a file in the folder.
std::string secretServiceText(const std::string& folder);
// The push certificate is not there: the phone cannot be woken.
std::string pushCertificateText();
// How to pair and how to stop, said once the headless service serves; `pairing`: started
// with --pair.
std::string headlessHintText(bool pairing);
// A Secret Service answers but did not take the settings key (its answer, when it refused
// in this run): the key is kept in the file in the folder instead.
std::string keyInFileText(const std::string& folder, const std::optional<std::string>& refusal);
// Neither the keychain nor the file store took a new settings key: the start stops.
std::string keyNotStoredText(const std::string& reason);
// The keychain cannot be read while a settings file sealed under its key exists.
std::string keychainUnreadableText(const std::string& reason, const std::string& settingFile);
// Saving the settings failed (the first failure of a streak) / works again.
std::string settingsNotSavedText(const std::string& reason);
std::string settingsSavedAgainText();
// The simulated radio's hub does not answer at the socket.
std::string simulatedRadioText(const std::string& socketPath);
}  // namespace notice

// Whether something accepts connections on the Unix socket (the simulated radio's hub).
bool unixSocketAnswers(const std::string& path);

// A factory whose centrals report every state change of the Bluetooth back end to
// `onState` (on the central's queue) besides their own delegate.
ble::BleCentralFactory watchBluetoothState(ble::BleCentralFactory inner,
                                           std::function<void(ble::CentralState)> onState);

// Qt writes warnings of its Bluetooth back end to standard error; they go to the log at
// the debug level instead (the user gets the one line of bluetoothText).
void routeQtMessagesToLog();

}  // namespace lumvane
