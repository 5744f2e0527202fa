#include "app/StartupNotices.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "runtime/log/TBNLogger.h"

#ifdef LUMVANE_HAVE_QT_BLE
#include <QString>
#include <QtGlobal>
#endif

namespace lumvane {

namespace {

std::mutex gOutputMutex;
std::set<std::string> gSaidTopics;
// The start-up texts said so far and where they go on to (under gSinkMutex).
std::mutex gSinkMutex;
std::vector<std::string> gStartupTexts;
std::function<void(const std::string&)> gSink;

// Forwards every event to the real delegate and reports state changes.
class WatchingDelegate final : public ble::BleCentralDelegate {
  public:
    WatchingDelegate(std::weak_ptr<ble::BleCentralDelegate> inner,
                     std::function<void(ble::CentralState)> onState)
        : inner_(std::move(inner)), onState_(std::move(onState)) {}

    void centralManagerDidUpdateState(ble::BleCentral& central) override {
        if (onState_) onState_(central.state());
        if (auto d = inner_.lock()) d->centralManagerDidUpdateState(central);
    }
    void centralManagerDidDiscoverPeripheral(ble::BleCentral& central,
                                             const std::shared_ptr<ble::BlePeripheral>& peripheral,
                                             const ble::AdvertisementData& data,
                                             int rssi) override {
        if (auto d = inner_.lock()) {
            d->centralManagerDidDiscoverPeripheral(central, peripheral, data, rssi);
        }
    }
    void centralManagerDidConnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral) override {
        if (auto d = inner_.lock()) d->centralManagerDidConnectPeripheral(central, peripheral);
    }
    void centralManagerDidFailToConnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
        const std::optional<ble::BleError>& error) override {
        if (auto d = inner_.lock()) {
            d->centralManagerDidFailToConnectPeripheral(central, peripheral, error);
        }
    }
    void centralManagerDidDisconnectPeripheral(
        ble::BleCentral& central, const std::shared_ptr<ble::BlePeripheral>& peripheral,
        const std::optional<ble::BleError>& error) override {
        if (auto d = inner_.lock()) {
            d->centralManagerDidDisconnectPeripheral(central, peripheral, error);
        }
    }

  private:
    std::weak_ptr<ble::BleCentralDelegate> inner_;
    std::function<void(ble::CentralState)> onState_;
};

}  // namespace

void writeToUser(const std::string& text) {
    std::lock_guard<std::mutex> lock(gOutputMutex);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void sayToUser(const std::string& text) {
    writeToUser("lumvane: " + text + "\n");
}

void sayToUserOnce(const std::string& topic, const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(gOutputMutex);
        if (!gSaidTopics.insert(topic).second) return;
    }
    sayToUser(text);
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        gStartupTexts.push_back(text);
        sink = gSink;
    }
    if (sink) sink(text);
}

void tellUser(const std::string& text) {
    sayToUser(text);
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        gStartupTexts.push_back(text);
        sink = gSink;
    }
    if (sink) sink(text);
}

void setStartupNoticeSink(std::function<void(const std::string& text)> sink) {
    std::vector<std::string> earlier;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        gSink = sink;
        if (sink) earlier = gStartupTexts;
    }
    for (const auto& text : earlier) sink(text);
}

namespace notice {

std::string bluetoothText(ble::CentralState state) {
    switch (state) {
        case ble::CentralState::PoweredOff:
            return "Bluetooth is switched off: the phone cannot be reached; switch it on "
                   "(bluetoothctl power on)";
        case ble::CentralState::Unauthorized:
            return "Bluetooth is not allowed for this user: the phone cannot be reached; "
                   "check the BlueZ D-Bus policy (the user may need the group bluetooth)";
        default:
            return "no usable Bluetooth adapter (BlueZ 5 with an adapter is needed): the phone "
                   "cannot be reached; plug one in and start bluetoothd, or try it with the "
                   "simulated phone (--ble=sim:PATH, see scripts/try.sh)";
    }
}

std::string uhidText(bool deviceExists) {
    if (!deviceExists) {
        return "the virtual security key is off: this system has no /dev/uhid (load the "
               "uhid kernel module: modprobe uhid)";
    }
    return "the virtual security key is off: no write access to /dev/uhid; allow it with a "
           "udev rule, e.g. KERNEL==\"uhid\", GROUP=\"plugdev\", MODE=\"0660\", and join "
           "that group";
}

std::string secretServiceText(const std::string& folder) {
    return "no Secret Service (keyring) answers on the session bus: the settings key is kept "
           "in a file readable only by you in " +
           folder + "; start a keyring (gnome-keyring, KeePassXC) to keep it there instead";
}

std::string pushCertificateText() {
    return "the phone is reached only while its Lumvane app is awake: this build cannot wake "
           "it (it has no push service)";
}

std::string headlessHintText(bool pairing) {
    if (pairing) return "Ctrl-C stops it; scan the QR code it prints with Lumvane on the phone";
    return "Ctrl-C stops it; to pair a phone, start it with --pair and scan the QR code it "
           "prints";
}

std::string keyInFileText(const std::string& folder, const std::optional<std::string>& refusal) {
    std::string text = "the keyring ";
    text += refusal ? "refused to store the settings key (" + *refusal + ")"
                    : "does not hold the settings key";
    text += ": it is kept in a file readable only by you in " + folder +
            "; nothing is lost, but a keyring with a usable collection would keep it safer";
    return text;
}

std::string keyNotStoredText(const std::string& reason) {
    return "the key of the settings cannot be stored (" + reason +
           "), neither in the keyring nor in a file: nothing was saved, since the next start "
           "could not read it. Free some disk space or start a keyring, and start Lumvane "
           "again.";
}

std::string keychainUnreadableText(const std::string& reason, const std::string& settingFile) {
    return "the keychain holding the key of the settings cannot be read (" + reason +
           "); unlock it and start Lumvane again. " + settingFile + " is left as it is.";
}

std::string settingsNotSavedText(const std::string& reason) {
    return "the settings cannot be saved (" + reason +
           "): a pairing or approval made now is lost when Lumvane stops; retrying";
}

std::string settingsSavedAgainText() {
    return "the settings are saved again";
}

std::string simulatedRadioText(const std::string& socketPath) {
    return "the simulated radio is not there (nothing listens at " + socketPath +
           "): the phone cannot be reached until its hub (lumvane-ble-air) runs there";
}

}  // namespace notice

bool unixSocketAnswers(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int rc = 0;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
}

ble::BleCentralFactory watchBluetoothState(ble::BleCentralFactory inner,
                                           std::function<void(ble::CentralState)> onState) {
    // The central holds its delegate weakly: the watchers live as long as the factory.
    auto watchers = std::make_shared<std::vector<std::shared_ptr<WatchingDelegate>>>();
    auto mutex = std::make_shared<std::mutex>();
    return [inner = std::move(inner), onState = std::move(onState), watchers, mutex](
               std::weak_ptr<ble::BleCentralDelegate> delegate,
               std::shared_ptr<DispatchQueue> queue, const ble::BleCentralOptions& options) {
        auto watcher = std::make_shared<WatchingDelegate>(std::move(delegate), onState);
        {
            std::lock_guard<std::mutex> lock(*mutex);
            watchers->push_back(watcher);
        }
        return inner(watcher, std::move(queue), options);
    };
}

#ifdef LUMVANE_HAVE_QT_BLE
namespace {
void qtMessageToLog(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string text = message.toStdString();
    const char* category = context.category ? context.category : "qt";
    if (type == QtFatalMsg) {
        TBN_LOG_ERROR("platform|qt", "{}: {}", category, text);
        std::fprintf(stderr, "%s: %s\n", category, text.c_str());
        return;
    }
    TBN_LOG_DEBUG("platform|qt", "{}: {}", category, text);
}
}  // namespace

void routeQtMessagesToLog() {
    qInstallMessageHandler(qtMessageToLog);
}
#else
void routeQtMessagesToLog() {}
#endif

}  // namespace lumvane
