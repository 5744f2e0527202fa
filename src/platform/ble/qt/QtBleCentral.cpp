#include "platform/ble/qt/QtBleCentral.h"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothLocalDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/ble/qt/QtBleMapping.h"
#include "runtime/DispatchQueue.h"

namespace lumvane::ble::qt {

namespace {

// How long a caller waits for the Qt thread to start or to finish a clean-up.
constexpr auto kThreadWait = std::chrono::seconds(5);
// ATT default MTU, until the connection tells a larger one.
constexpr int kDefaultMtu = 23;

// The one thread with a Qt event loop that all Qt centrals of the process share.
// It stops when the last central lets go of it.
class QtThread {
  public:
    static std::shared_ptr<QtThread> acquire() {
        std::lock_guard<std::mutex> lock(slotMutex());
        if (auto t = slot().lock()) return t;
        // A thread let go inside a Qt callback may still be winding down; only
        // one application object may exist at a time.
        if (auto previous = lastCore().lock()) {
            std::unique_lock<std::mutex> wait(previous->mutex);
            previous->cv.wait_for(wait, kThreadWait, [&] { return previous->finished; });
        }
        auto t = std::shared_ptr<QtThread>(new QtThread);
        lastCore() = t->core_;
        t->start();
        slot() = t;
        return t;
    }

    static bool running() {
        std::lock_guard<std::mutex> lock(slotMutex());
        return !slot().expired();
    }

    ~QtThread() {
        {
            std::lock_guard<std::mutex> lock(core_->mutex);
            if (core_->context) {
                QEventLoop* loop = core_->loop;
                QMetaObject::invokeMethod(
                    core_->context, [loop] { loop->quit(); }, Qt::QueuedConnection);
            }
        }
        if (!thread_.joinable()) return;
        if (std::this_thread::get_id() == thread_.get_id()) {
            // The last central went away inside a Qt callback: the thread ends on
            // its own (it holds what it uses).
            thread_.detach();
        } else {
            thread_.join();
        }
    }

    bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Runs `f` on the Qt thread, after what was posted before it.
    bool run(std::function<void()> f) {
        std::lock_guard<std::mutex> lock(core_->mutex);
        if (!core_->context) return false;
        return QMetaObject::invokeMethod(core_->context, std::move(f), Qt::QueuedConnection);
    }

    // Runs `f` on the Qt thread and waits for it, at most kThreadWait.
    bool runAndWait(std::function<void()> f) {
        if (onThread()) {
            f();
            return true;
        }
        struct Done {
            std::mutex mutex;
            std::condition_variable cv;
            bool flag = false;
        };
        auto done = std::make_shared<Done>();
        if (!run([f = std::move(f), done] {
                f();
                std::lock_guard<std::mutex> lock(done->mutex);
                done->flag = true;
                done->cv.notify_all();
            })) {
            return false;
        }
        std::unique_lock<std::mutex> lock(done->mutex);
        return done->cv.wait_for(lock, kThreadWait, [&] { return done->flag; });
    }

  private:
    // What the thread itself uses; it may outlive the QtThread object.
    struct Core {
        std::mutex mutex;
        std::condition_variable cv;
        bool started = false;
        bool finished = false;
        QObject* context = nullptr;
        QEventLoop* loop = nullptr;
    };

    QtThread() = default;

    static std::mutex& slotMutex() {
        static std::mutex m;
        return m;
    }
    static std::weak_ptr<QtThread>& slot() {
        static std::weak_ptr<QtThread> s;
        return s;
    }
    static std::weak_ptr<Core>& lastCore() {
        static std::weak_ptr<Core> c;
        return c;
    }

    void start() {
        thread_ = std::thread([core = core_] { body(*core); });
        std::unique_lock<std::mutex> lock(core_->mutex);
        core_->cv.wait_for(lock, kThreadWait, [&] { return core_->started; });
    }

    static void body(Core& core) {
        std::unique_ptr<QCoreApplication> app;
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char arg0[] = "lumvane";
            static char* argv[] = {arg0, nullptr};
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        {
            QEventLoop loop;
            QObject context;
            {
                std::lock_guard<std::mutex> lock(core.mutex);
                core.context = &context;
                core.loop = &loop;
                core.started = true;
            }
            core.cv.notify_all();
            loop.exec();
            {
                std::lock_guard<std::mutex> lock(core.mutex);
                core.context = nullptr;
                core.loop = nullptr;
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        app.reset();
        {
            std::lock_guard<std::mutex> lock(core.mutex);
            core.finished = true;
        }
        core.cv.notify_all();
    }

    const std::shared_ptr<Core> core_ = std::make_shared<Core>();
    std::thread thread_;
};

class QtCentral;

// Per-service bookkeeping of requests Qt answers without saying which one failed.
struct ServiceRequests {
    QLowEnergyService* service = nullptr;
    std::vector<std::string> characteristicFilter;
    bool discovering = false;
    std::deque<std::string> reads;
    std::deque<std::string> writes;
    std::deque<std::pair<std::string, bool>> subscriptions;
};

class QtPeripheral : public BlePeripheral {
  public:
    QtPeripheral(std::string id, std::weak_ptr<QtCentral> central)
        : BlePeripheral(std::move(id)), central_(std::move(central)) {}

    void discoverServices(const std::vector<std::string>& serviceUuids) override;
    void discoverCharacteristics(const std::vector<std::string>& characteristicUuids,
                                 const std::shared_ptr<BleService>& service) override;
    void readValue(const std::shared_ptr<BleCharacteristic>& characteristic) override;
    bool writeValue(const Bytes& value, const std::shared_ptr<BleCharacteristic>& characteristic,
                    WriteType type) override;
    void setNotifyValue(bool enabled,
                        const std::shared_ptr<BleCharacteristic>& characteristic) override;
    size_t maximumWriteValueLength(WriteType) const override {
        return std::min<size_t>(size_t(std::max(mtu.load(), kDefaultMtu) - 3),
                                kMaxAttributeValueLength);
    }

    std::shared_ptr<QtPeripheral> self() {
        return std::static_pointer_cast<QtPeripheral>(shared_from_this());
    }

    // --- Qt thread only ---
    std::optional<QBluetoothDeviceInfo> info;
    QLowEnergyController* controller = nullptr;
    bool attemptOpen = false;  // a connect still waits for its answer
    bool cancelAsked = false;
    std::optional<BleError> lastError;
    bool discoveringServices = false;
    std::vector<std::string> serviceFilter;
    std::map<std::string, ServiceRequests> requests;

    std::atomic<int> mtu{kDefaultMtu};

    void dropServiceObjects() {
        for (auto& [uuid, r] : requests) {
            if (r.service) {
                r.service->disconnect();
                r.service->deleteLater();
            }
        }
        requests.clear();
    }

    void dropController() {
        dropServiceObjects();
        if (controller) {
            controller->disconnect();
            controller->deleteLater();
            controller = nullptr;
        }
    }

  private:
    std::weak_ptr<QtCentral> central_;
};

class QtCentral : public BleCentral {
  public:
    QtCentral(std::weak_ptr<BleCentralDelegate> delegate, std::shared_ptr<DispatchQueue> queue)
        : BleCentral(std::move(delegate), std::move(queue)), qt_(QtThread::acquire()) {}

    ~QtCentral() override {
        std::vector<std::shared_ptr<QtPeripheral>> peripherals;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& [id, p] : peripherals_) peripherals.push_back(p);
        }
        QBluetoothLocalDevice* local = local_;
        QBluetoothDeviceDiscoveryAgent* agent = agent_;
        qt_->runAndWait([local, agent, peripherals] {
            if (agent) {
                agent->disconnect();
                agent->stop();
                delete agent;
            }
            if (local) {
                local->disconnect();
                delete local;
            }
            for (auto& p : peripherals) {
                p->dropServiceObjects();
                if (p->controller) {
                    p->controller->disconnect();
                    delete p->controller;
                    p->controller = nullptr;
                }
                // Peripherals the link still holds no longer have a connection.
                p->attemptOpen = false;
                p->setState(PeripheralState::Disconnected);
                p->setServices({});
            }
        });
    }

    std::shared_ptr<QtCentral> self() {
        return std::static_pointer_cast<QtCentral>(shared_from_this());
    }

    // Brings the adapter up on the Qt thread; the first state report follows.
    void start() {
        std::weak_ptr<QtCentral> weak = self();
        if (!qt_->run([weak] {
                if (auto c = weak.lock()) c->startOnThread();
            })) {
            setState(CentralState::Unsupported);
        }
    }

    // --- BleCentral ---
    CentralState state() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_;
    }

    void scanForPeripherals(const std::vector<std::string>& serviceUuids,
                            bool allowDuplicates) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state_ != CentralState::PoweredOn) return;
            scanning_ = true;
        }
        onQt([serviceUuids, allowDuplicates](QtCentral& c) {
            c.startScanOnThread(serviceUuids, allowDuplicates);
        });
    }

    void stopScan() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            scanning_ = false;
        }
        onQt([](QtCentral& c) {
            if (c.agent_ && c.agent_->isActive()) c.agent_->stop();
        });
    }

    bool isScanning() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return scanning_;
    }

    void connect(const std::shared_ptr<BlePeripheral>& peripheral, bool) override {
        auto p = own(peripheral);
        if (!p) return;
        if (p->state() == PeripheralState::Disconnected) p->setState(PeripheralState::Connecting);
        onQt([p](QtCentral& c) { c.connectOnThread(p); });
    }

    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) override {
        auto p = own(peripheral);
        if (!p || p->state() == PeripheralState::Disconnected) return;
        p->setState(PeripheralState::Disconnecting);
        onQt([p](QtCentral& c) { c.cancelOnThread(p); });
    }

    std::vector<std::shared_ptr<BlePeripheral>> retrievePeripherals(
        const std::vector<std::string>& identifiers) override {
        std::vector<std::shared_ptr<BlePeripheral>> out;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& id : identifiers) {
            auto it = peripherals_.find(id);
            if (it != peripherals_.end()) out.push_back(it->second);
        }
        return out;
    }

    // --- used by the peripherals ---
    template <class F>
    void onQt(F f) {
        std::weak_ptr<QtCentral> weak = self();
        qt_->run([weak, f] {
            if (auto c = weak.lock()) f(*c);
        });
    }

    template <class F>
    void postPeripheral(const std::shared_ptr<QtPeripheral>& p, F f) {
        post([p, f] {
            if (auto d = p->delegate()) f(*p, *d);
        });
    }

    void discoverServicesOnThread(const std::shared_ptr<QtPeripheral>& p) {
        if (!p->controller || p->state() != PeripheralState::Connected) {
            postPeripheral(p, [](BlePeripheral& pp, BlePeripheralDelegate& d) {
                d.peripheralDidDiscoverServices(pp, BleError{-1, "peripheral not connected"});
            });
            return;
        }
        if (p->controller->state() == QLowEnergyController::DiscoveredState) {
            servicesDiscovered(p);
            return;
        }
        p->discoveringServices = true;
        p->controller->discoverServices();
    }

    void discoverCharacteristicsOnThread(const std::shared_ptr<QtPeripheral>& p,
                                         const std::shared_ptr<BleService>& service,
                                         const std::vector<std::string>& filter) {
        auto fail = [&](const char* text) {
            postPeripheral(p, [service, text](BlePeripheral& pp, BlePeripheralDelegate& d) {
                d.peripheralDidDiscoverCharacteristicsForService(pp, service, BleError{-1, text});
            });
        };
        if (!p->controller || p->state() != PeripheralState::Connected)
            return fail("peripheral not connected");
        auto uuid = qtUuid(service->uuid());
        if (!uuid) return fail("unknown service");
        auto& r = p->requests[service->uuid()];
        r.characteristicFilter = filter;
        if (!r.service) {
            r.service = p->controller->createServiceObject(*uuid);
            if (!r.service) {
                p->requests.erase(service->uuid());
                return fail("unknown service");
            }
            wireService(p, service, r.service);
        }
        if (r.service->state() == QLowEnergyService::RemoteServiceDiscovered) {
            characteristicsDiscovered(p, service);
            return;
        }
        if (r.discovering) return;
        r.discovering = true;
        r.service->discoverDetails();
    }

  private:
    friend class QtPeripheral;

    std::shared_ptr<QtPeripheral> own(const std::shared_ptr<BlePeripheral>& peripheral) {
        if (!peripheral) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = peripherals_.find(peripheral->identifier());
        if (it == peripherals_.end() || it->second != peripheral) return nullptr;
        return it->second;
    }

    template <class F>
    void postCentral(F f) {
        std::weak_ptr<BleCentral> weak = weak_from_this();
        post([weak, f] {
            auto c = weak.lock();
            if (!c) return;
            if (auto d = c->delegate()) f(*c, *d);
        });
    }

    void setState(CentralState s) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state_ == s) return;
            state_ = s;
            if (s != CentralState::PoweredOn) scanning_ = false;
        }
        postCentral(
            [](BleCentral& c, BleCentralDelegate& d) { d.centralManagerDidUpdateState(c); });
    }

    // --- Qt thread ---

    void startOnThread() {
        local_ = new QBluetoothLocalDevice();
        std::weak_ptr<QtCentral> weak = self();
        QObject::connect(local_, &QBluetoothLocalDevice::hostModeStateChanged, local_,
                         [weak](QBluetoothLocalDevice::HostMode mode) {
                             if (auto c = weak.lock()) c->hostModeChanged(mode);
                         });
        agent_ = new QBluetoothDeviceDiscoveryAgent();
        // Scan until told to stop; BlueZ reports repeated advertisements as updates.
        agent_->setLowEnergyDiscoveryTimeout(0);
        QObject::connect(agent_, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, agent_,
                         [weak](const QBluetoothDeviceInfo& info) {
                             if (auto c = weak.lock()) c->advertisement(info);
                         });
        QObject::connect(agent_, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, agent_,
                         [weak](const QBluetoothDeviceInfo& info, QBluetoothDeviceInfo::Fields) {
                             if (auto c = weak.lock()) c->advertisement(info);
                         });
        QObject::connect(agent_, &QBluetoothDeviceDiscoveryAgent::errorOccurred, agent_,
                         [weak](QBluetoothDeviceDiscoveryAgent::Error) {
                             if (auto c = weak.lock()) c->scanEnded();
                         });
        QObject::connect(agent_, &QBluetoothDeviceDiscoveryAgent::finished, agent_, [weak] {
            if (auto c = weak.lock()) c->scanEnded();
        });
        hostModeChanged(local_->hostMode());
    }

    void hostModeChanged(QBluetoothLocalDevice::HostMode mode) {
        const CentralState s = centralStateFor(local_ && local_->isValid(), mode);
        if (s != CentralState::PoweredOn && agent_ && agent_->isActive()) agent_->stop();
        setState(s);
    }

    void startScanOnThread(const std::vector<std::string>& filter, bool allowDuplicates) {
        if (!agent_) return;
        reports_.start(filter, allowDuplicates);
        if (agent_->isActive()) agent_->stop();
        agent_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
        if (!agent_->isActive()) scanEnded();
    }

    void scanEnded() {
        std::lock_guard<std::mutex> lock(mutex_);
        scanning_ = false;
    }

    std::shared_ptr<QtPeripheral> peripheralFor(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& slot = peripherals_[id];
        if (!slot) slot = std::make_shared<QtPeripheral>(id, self());
        return slot;
    }

    void advertisement(const QBluetoothDeviceInfo& info) {
        if (!isScanning()) return;
        if (!(info.coreConfigurations() & QBluetoothDeviceInfo::LowEnergyCoreConfiguration)) return;
        AdvertisementData adv = advertisementFrom(info);
        const std::string id = addressText(info.address());
        if (!reports_.shouldReport(id, adv)) return;
        auto p = peripheralFor(id);
        p->info = info;
        if (adv.localName && adv.localName != p->name()) p->setName(adv.localName);
        const int rssi = info.rssi();
        postCentral([p, adv, rssi](BleCentral& c, BleCentralDelegate& d) {
            d.centralManagerDidDiscoverPeripheral(c, p, adv, rssi);
        });
    }

    void connectOnThread(const std::shared_ptr<QtPeripheral>& p) {
        if (p->controller && p->controller->state() != QLowEnergyController::UnconnectedState)
            return;  // already connecting or connected
        p->dropController();
        QBluetoothDeviceInfo info =
            p->info ? *p->info
                    : QBluetoothDeviceInfo(
                          QBluetoothAddress(QString::fromStdString(p->identifier())), QString(), 0);
        info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
        auto* ctl = QLowEnergyController::createCentral(info);
        p->controller = ctl;
        p->attemptOpen = true;
        p->cancelAsked = false;
        p->lastError.reset();
        p->mtu = kDefaultMtu;
        std::weak_ptr<QtCentral> weak = self();
        std::weak_ptr<QtPeripheral> wp = p;
        QObject::connect(ctl, &QLowEnergyController::connected, ctl, [weak, wp] {
            auto c = weak.lock();
            auto pp = wp.lock();
            if (c && pp) c->connected(pp);
        });
        QObject::connect(ctl, &QLowEnergyController::errorOccurred, ctl,
                         [weak, wp](QLowEnergyController::Error e) {
                             auto c = weak.lock();
                             auto pp = wp.lock();
                             if (c && pp) c->controllerFailed(pp, e);
                         });
        QObject::connect(ctl, &QLowEnergyController::stateChanged, ctl,
                         [weak, wp](QLowEnergyController::ControllerState s) {
                             auto c = weak.lock();
                             auto pp = wp.lock();
                             if (c && pp && s == QLowEnergyController::UnconnectedState)
                                 c->connectionEnded(pp);
                         });
        QObject::connect(ctl, &QLowEnergyController::mtuChanged, ctl, [wp](int mtu) {
            if (auto pp = wp.lock()) pp->mtu = mtu;
        });
        QObject::connect(ctl, &QLowEnergyController::discoveryFinished, ctl, [weak, wp] {
            auto c = weak.lock();
            auto pp = wp.lock();
            if (c && pp && pp->discoveringServices) c->servicesDiscovered(pp);
        });
        ctl->connectToDevice();
        // Qt may fail at once (no adapter) without a state change.
        if (p->controller == ctl && ctl->state() == QLowEnergyController::UnconnectedState)
            connectionEnded(p);
    }

    void cancelOnThread(const std::shared_ptr<QtPeripheral>& p) {
        if (!p->controller || p->controller->state() == QLowEnergyController::UnconnectedState) {
            // Nothing on the air: the pending connect simply ends.
            p->cancelAsked = true;
            connectionEnded(p);
            return;
        }
        p->cancelAsked = true;
        p->controller->disconnectFromDevice();
    }

    void connected(const std::shared_ptr<QtPeripheral>& p) {
        if (!p->attemptOpen) return;
        p->attemptOpen = false;
        p->mtu = std::max(p->controller->mtu(), kDefaultMtu);
        if (p->cancelAsked) return;  // ended by the disconnect already asked for
        p->setState(PeripheralState::Connected);
        postCentral([p](BleCentral& c, BleCentralDelegate& d) {
            d.centralManagerDidConnectPeripheral(c, p);
        });
    }

    void controllerFailed(const std::shared_ptr<QtPeripheral>& p, QLowEnergyController::Error e) {
        p->lastError = controllerError(e);
        if (p->discoveringServices) {
            p->discoveringServices = false;
            auto err = p->lastError;
            postPeripheral(p, [err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                d.peripheralDidDiscoverServices(pp, err);
            });
        }
    }

    void connectionEnded(const std::shared_ptr<QtPeripheral>& p) {
        const PeripheralState before = p->state();
        const bool wasAttempt = p->attemptOpen;
        const bool asked = p->cancelAsked;
        std::optional<BleError> err = asked ? std::nullopt : p->lastError;
        if (before == PeripheralState::Disconnected) {
            p->dropController();
            return;
        }
        p->attemptOpen = false;
        p->cancelAsked = false;
        p->discoveringServices = false;
        p->dropController();
        p->setState(PeripheralState::Disconnected);
        // Discovered attributes do not outlive the connection.
        p->setServices({});
        if (wasAttempt && !asked) {
            if (!err)
                err = BleError{int(QLowEnergyController::ConnectionError), "connection failed"};
            postCentral([p, err](BleCentral& c, BleCentralDelegate& d) {
                d.centralManagerDidFailToConnectPeripheral(c, p, err);
            });
        } else {
            postCentral([p, err](BleCentral& c, BleCentralDelegate& d) {
                d.centralManagerDidDisconnectPeripheral(c, p, err);
            });
        }
    }

    void servicesDiscovered(const std::shared_ptr<QtPeripheral>& p) {
        p->discoveringServices = false;
        std::vector<std::shared_ptr<BleService>> list;
        for (const auto& u : p->controller->services()) {
            const std::string text = uuidText(u);
            if (!p->serviceFilter.empty()) {
                bool want = false;
                for (const auto& f : p->serviceFilter)
                    want = want || canonicalUuid(f).value_or(f) == text;
                if (!want) continue;
            }
            // Keep service objects already known, as the platform does.
            auto existing = p->serviceByServiceId(text);
            list.push_back(existing ? existing : std::make_shared<BleService>(text, p));
        }
        p->setServices(std::move(list));
        postPeripheral(p, [](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidDiscoverServices(pp, std::nullopt);
        });
    }

    std::shared_ptr<BleCharacteristic> characteristicOf(const std::shared_ptr<BleService>& service,
                                                        const QLowEnergyCharacteristic& qc) {
        return service->characteristicByCharacteristicId(uuidText(qc.uuid()));
    }

    void wireService(const std::shared_ptr<QtPeripheral>& p,
                     const std::shared_ptr<BleService>& service, QLowEnergyService* qs) {
        std::weak_ptr<QtCentral> weak = self();
        std::weak_ptr<QtPeripheral> wp = p;
        std::weak_ptr<BleService> ws = service;
        auto with = [weak, wp, ws](auto f) {
            return [weak, wp, ws, f](auto&&... args) {
                auto c = weak.lock();
                auto pp = wp.lock();
                auto s = ws.lock();
                if (c && pp && s) f(*c, pp, s, args...);
            };
        };
        QObject::connect(
            qs, &QLowEnergyService::stateChanged, qs,
            with([](QtCentral& c, const std::shared_ptr<QtPeripheral>& pp,
                    const std::shared_ptr<BleService>& s, QLowEnergyService::ServiceState st) {
                if (st == QLowEnergyService::RemoteServiceDiscovered)
                    c.characteristicsDiscovered(pp, s);
            }));
        QObject::connect(
            qs, &QLowEnergyService::characteristicRead, qs,
            with([](QtCentral& c, const std::shared_ptr<QtPeripheral>& pp,
                    const std::shared_ptr<BleService>& s, const QLowEnergyCharacteristic& qc,
                    const QByteArray& v) { c.valueArrived(pp, s, qc, v, true); }));
        QObject::connect(
            qs, &QLowEnergyService::characteristicChanged, qs,
            with([](QtCentral& c, const std::shared_ptr<QtPeripheral>& pp,
                    const std::shared_ptr<BleService>& s, const QLowEnergyCharacteristic& qc,
                    const QByteArray& v) { c.valueArrived(pp, s, qc, v, false); }));
        QObject::connect(qs, &QLowEnergyService::characteristicWritten, qs,
                         with([](QtCentral& c, const std::shared_ptr<QtPeripheral>& pp,
                                 const std::shared_ptr<BleService>& s,
                                 const QLowEnergyCharacteristic& qc, const QByteArray&) {
                             c.writeAnswered(pp, s, uuidText(qc.uuid()), std::nullopt);
                         }));
        QObject::connect(
            qs, &QLowEnergyService::descriptorWritten, qs,
            with([](QtCentral& c, const std::shared_ptr<QtPeripheral>& pp,
                    const std::shared_ptr<BleService>& s, const QLowEnergyDescriptor&,
                    const QByteArray&) { c.subscriptionAnswered(pp, s, std::nullopt); }));
        QObject::connect(
            qs, &QLowEnergyService::errorOccurred, qs,
            with([](QtCentral& c, const std::shared_ptr<QtPeripheral>& pp,
                    const std::shared_ptr<BleService>& s,
                    QLowEnergyService::ServiceError e) { c.serviceFailed(pp, s, e); }));
    }

    void characteristicsDiscovered(const std::shared_ptr<QtPeripheral>& p,
                                   const std::shared_ptr<BleService>& service) {
        auto it = p->requests.find(service->uuid());
        if (it == p->requests.end() || !it->second.service) return;
        auto& r = it->second;
        r.discovering = false;
        std::vector<std::shared_ptr<BleCharacteristic>> list;
        for (const auto& qc : r.service->characteristics()) {
            const std::string text = uuidText(qc.uuid());
            if (!r.characteristicFilter.empty()) {
                bool want = false;
                for (const auto& f : r.characteristicFilter)
                    want = want || canonicalUuid(f).value_or(f) == text;
                if (!want) continue;
            }
            const uint32_t props = characteristicProperties(qc.properties());
            auto existing = service->characteristicByCharacteristicId(text);
            list.push_back(existing && existing->properties() == props
                               ? existing
                               : std::make_shared<BleCharacteristic>(text, props, service));
        }
        service->setCharacteristics(std::move(list));
        postPeripheral(p, [service](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidDiscoverCharacteristicsForService(pp, service, std::nullopt);
        });
    }

    void valueArrived(const std::shared_ptr<QtPeripheral>& p,
                      const std::shared_ptr<BleService>& service,
                      const QLowEnergyCharacteristic& qc, const QByteArray& v, bool isRead) {
        auto ch = characteristicOf(service, qc);
        if (!ch) return;
        if (isRead) {
            auto& reads = p->requests[service->uuid()].reads;
            for (auto it = reads.begin(); it != reads.end(); ++it) {
                if (*it == ch->uuid()) {
                    reads.erase(it);
                    break;
                }
            }
        }
        std::optional<Bytes> value = Bytes(v.begin(), v.end());
        ch->setValue(value);
        postPeripheral(p, [ch, value](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidUpdateValueForCharacteristic(pp, ch, value, std::nullopt);
        });
    }

    void writeAnswered(const std::shared_ptr<QtPeripheral>& p,
                       const std::shared_ptr<BleService>& service, const std::string& uuid,
                       std::optional<BleError> err) {
        auto& writes = p->requests[service->uuid()].writes;
        std::string which = uuid;
        if (uuid.empty()) {
            if (writes.empty()) return;
            which = writes.front();
            writes.pop_front();
        } else {
            auto it = std::find(writes.begin(), writes.end(), uuid);
            if (it == writes.end()) return;  // a write without response needs no answer
            writes.erase(it);
        }
        auto ch = service->characteristicByCharacteristicId(which);
        if (!ch) return;
        postPeripheral(p, [ch, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidWriteValueForCharacteristic(pp, ch, err);
        });
    }

    void subscriptionAnswered(const std::shared_ptr<QtPeripheral>& p,
                              const std::shared_ptr<BleService>& service,
                              std::optional<BleError> err) {
        auto& subs = p->requests[service->uuid()].subscriptions;
        if (subs.empty()) return;
        auto [uuid, enabled] = subs.front();
        subs.pop_front();
        auto ch = service->characteristicByCharacteristicId(uuid);
        if (!ch) return;
        if (!err) ch->setNotifying(enabled);
        postPeripheral(p, [ch, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidUpdateNotificationStateForCharacteristic(pp, ch, err);
        });
    }

    void serviceFailed(const std::shared_ptr<QtPeripheral>& p,
                       const std::shared_ptr<BleService>& service,
                       QLowEnergyService::ServiceError e) {
        auto err = serviceError(e);
        if (!err) return;
        auto& r = p->requests[service->uuid()];
        switch (e) {
            case QLowEnergyService::CharacteristicReadError: {
                if (r.reads.empty()) return;
                auto ch = service->characteristicByCharacteristicId(r.reads.front());
                r.reads.pop_front();
                if (!ch) return;
                postPeripheral(p, [ch, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidUpdateValueForCharacteristic(pp, ch, std::nullopt, err);
                });
                return;
            }
            case QLowEnergyService::CharacteristicWriteError:
                writeAnswered(p, service, std::string(), err);
                return;
            case QLowEnergyService::DescriptorWriteError:
                subscriptionAnswered(p, service, err);
                return;
            default:
                if (r.discovering) {
                    r.discovering = false;
                    postPeripheral(p, [service, err](BlePeripheral& pp, BlePeripheralDelegate& d) {
                        d.peripheralDidDiscoverCharacteristicsForService(pp, service, err);
                    });
                }
                return;
        }
    }

    std::shared_ptr<QtThread> qt_;
    mutable std::mutex mutex_;
    CentralState state_ = CentralState::Unknown;
    bool scanning_ = false;
    std::map<std::string, std::shared_ptr<QtPeripheral>> peripherals_;

    // Qt thread only.
    QBluetoothLocalDevice* local_ = nullptr;
    QBluetoothDeviceDiscoveryAgent* agent_ = nullptr;
    ScanReportFilter reports_;
};

// Finds the Qt objects behind a characteristic on the Qt thread.
struct Target {
    QLowEnergyService* service = nullptr;
    QLowEnergyCharacteristic characteristic;
    ServiceRequests* requests = nullptr;
};

std::optional<Target> targetOf(QtPeripheral& p, const std::shared_ptr<BleCharacteristic>& ch) {
    auto service = ch ? ch->service() : nullptr;
    if (!service) return std::nullopt;
    auto it = p.requests.find(service->uuid());
    if (it == p.requests.end() || !it->second.service) return std::nullopt;
    auto uuid = qtUuid(ch->uuid());
    if (!uuid) return std::nullopt;
    QLowEnergyCharacteristic qc = it->second.service->characteristic(*uuid);
    if (!qc.isValid()) return std::nullopt;
    return Target{it->second.service, qc, &it->second};
}

void QtPeripheral::discoverServices(const std::vector<std::string>& serviceUuids) {
    auto c = central_.lock();
    if (!c) return;
    auto p = self();
    c->onQt([p, serviceUuids](QtCentral& central) {
        p->serviceFilter = serviceUuids;
        central.discoverServicesOnThread(p);
    });
}

void QtPeripheral::discoverCharacteristics(const std::vector<std::string>& characteristicUuids,
                                           const std::shared_ptr<BleService>& service) {
    auto c = central_.lock();
    if (!c || !service) return;
    auto p = self();
    c->onQt([p, service, characteristicUuids](QtCentral& central) {
        central.discoverCharacteristicsOnThread(p, service, characteristicUuids);
    });
}

void QtPeripheral::readValue(const std::shared_ptr<BleCharacteristic>& characteristic) {
    auto c = central_.lock();
    if (!c || !characteristic) return;
    auto p = self();
    c->onQt([p, characteristic](QtCentral& central) {
        auto t = targetOf(*p, characteristic);
        if (!t || p->state() != PeripheralState::Connected) {
            central.postPeripheral(p, [characteristic](BlePeripheral& pp,
                                                       BlePeripheralDelegate& d) {
                d.peripheralDidUpdateValueForCharacteristic(
                    pp, characteristic, std::nullopt, BleError{-1, "characteristic not available"});
            });
            return;
        }
        t->requests->reads.push_back(characteristic->uuid());
        t->service->readCharacteristic(t->characteristic);
    });
}

bool QtPeripheral::writeValue(const Bytes& value,
                              const std::shared_ptr<BleCharacteristic>& characteristic,
                              WriteType type) {
    auto c = central_.lock();
    if (!c || !characteristic || !characteristic->service() ||
        state() != PeripheralState::Connected)
        return false;
    const bool withResponse = type == WriteType::WithResponse;
    const uint32_t need =
        withResponse ? CharacteristicProperty::Write : CharacteristicProperty::WriteWithoutResponse;
    if (!characteristic->hasProperty(need)) return false;
    auto p = self();
    if (value.size() > maximumWriteValueLength(type)) {
        if (!withResponse) return false;
        c->postPeripheral(p, [characteristic](BlePeripheral& pp, BlePeripheralDelegate& d) {
            d.peripheralDidWriteValueForCharacteristic(
                pp, characteristic, BleError{-1, "invalid attribute value length"});
        });
        return true;
    }
    c->onQt([p, characteristic, value, withResponse](QtCentral& central) {
        auto t = targetOf(*p, characteristic);
        if (!t) {
            if (withResponse) {
                central.postPeripheral(
                    p, [characteristic](BlePeripheral& pp, BlePeripheralDelegate& d) {
                        d.peripheralDidWriteValueForCharacteristic(
                            pp, characteristic, BleError{-1, "characteristic not available"});
                    });
            }
            return;
        }
        if (withResponse) t->requests->writes.push_back(characteristic->uuid());
        t->service->writeCharacteristic(
            t->characteristic,
            QByteArray(reinterpret_cast<const char*>(value.data()), qsizetype(value.size())),
            withResponse ? QLowEnergyService::WriteWithResponse
                         : QLowEnergyService::WriteWithoutResponse);
    });
    return true;
}

void QtPeripheral::setNotifyValue(bool enabled,
                                  const std::shared_ptr<BleCharacteristic>& characteristic) {
    auto c = central_.lock();
    if (!c || !characteristic) return;
    auto p = self();
    c->onQt([p, characteristic, enabled](QtCentral& central) {
        auto fail = [&](const char* text) {
            central.postPeripheral(
                p, [characteristic, text](BlePeripheral& pp, BlePeripheralDelegate& d) {
                    d.peripheralDidUpdateNotificationStateForCharacteristic(pp, characteristic,
                                                                            BleError{-1, text});
                });
        };
        auto t = targetOf(*p, characteristic);
        if (!t || p->state() != PeripheralState::Connected)
            return fail("characteristic not available");
        QLowEnergyDescriptor cccd = t->characteristic.clientCharacteristicConfiguration();
        if (!cccd.isValid()) return fail("characteristic does not notify");
        t->requests->subscriptions.emplace_back(characteristic->uuid(), enabled);
        t->service->writeDescriptor(
            cccd, clientConfigurationValue(enabled, characteristic->properties()));
    });
}

}  // namespace

std::shared_ptr<BleCentral> createQtBleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                                               std::shared_ptr<DispatchQueue> queue,
                                               const BleCentralOptions&) {
    auto central = std::make_shared<QtCentral>(std::move(delegate), std::move(queue));
    central->start();
    return central;
}

bool qtBleThreadRunning() {
    return QtThread::running();
}

}  // namespace lumvane::ble::qt
