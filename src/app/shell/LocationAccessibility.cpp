#include "app/shell/LocationAccessibility.h"

#include <condition_variable>

#include "app/shell/ServicePrint.h"

namespace lumvane {

namespace {
bool inZone(const std::set<std::string>& white, const std::set<std::string>& black,
            const std::string& code, LocationZone zone) {
    switch (zone) {
        case LocationZone::white:
            return white.count(code) != 0;
        case LocationZone::black:
            return black.count(code) != 0;
        case LocationZone::grey:
            break;
    }
    return white.count(code) == 0 && black.count(code) == 0;
}
}  // namespace

bool LocationRulesDataSourceImpl::isContinent(const std::string& code, LocationZone zone) const {
    return inZone(whiteContinentCode, blackContinentCode, code, zone);
}

bool LocationRulesDataSourceImpl::isCountry(const std::string& code, LocationZone zone) const {
    return inZone(whiteCountryCode, blackCountryCode, code, zone);
}

LocationZone LocationAccessibilityRepositoryImpl::accessibilityZone() {
    if (!service || !rules) return LocationZone::grey;
    const std::string continent = service->continentCode();
    const std::string country = service->countryCode();
    if (rules->isContinent(continent, LocationZone::black)) {
        return rules->isCountry(country, LocationZone::white) ? LocationZone::white
                                                              : LocationZone::black;
    }
    if (rules->isContinent(continent, LocationZone::white)) {
        return rules->isCountry(country, LocationZone::black) ? LocationZone::black
                                                              : LocationZone::white;
    }
    if (rules->isCountry(country, LocationZone::white)) return LocationZone::white;
    if (rules->isCountry(country, LocationZone::black)) return LocationZone::black;
    return LocationZone::grey;
}

LocationServiceImpl::LocationServiceImpl(std::shared_ptr<ServiceHTTPClient> client,
                                         std::string host, std::string accessKey)
    : client_(std::move(client)), host_(std::move(host)), accessKey_(std::move(accessKey)) {}

std::optional<nlohmann::json> LocationServiceImpl::responceCache() const {
    std::lock_guard lock(cacheMutex_);
    return responceCache_;
}

std::string LocationServiceImpl::text(const char* key) {
    nlohmann::json answer = lookup();
    auto it = answer.find(key);
    if (it == answer.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

nlohmann::json LocationServiceImpl::lookup() {
    std::lock_guard lookupLock(lookupMutex_);
    {
        std::lock_guard lock(cacheMutex_);
        if (responceCache_) return *responceCache_;
    }
    if (!client_) return nlohmann::json::object();
    auto url = ServiceURL::parse("http://" + host_ + "/check?access_key=" + accessKey_);
    if (!url) return nlohmann::json::object();
    ServiceHTTPRequest request;
    request.url = *url;
    request.method = "POST";
    request.timeout = std::chrono::seconds(60);

    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto wait = std::make_shared<Wait>();
    client_->start(std::move(request), [this, wait](ServiceHTTPResult result) {
        // An error status is a failed lookup, not an answer to keep for the whole process.
        if (result.response && result.response->status >= 200 && result.response->status < 300) {
            auto parsed = nlohmann::json::parse(result.response->body, nullptr, false);
            if (parsed.is_discarded()) {
                servicePrint("The data couldn't be read because it isn't in the correct format.");
            } else if (parsed.is_object()) {
                std::lock_guard lock(cacheMutex_);
                responceCache_ = std::move(parsed);
            }
        }
        // The answer is stored before the waiter is released.
        std::lock_guard lock(wait->mutex);
        wait->finished = true;
        wait->done.notify_all();
    });
    std::unique_lock lock(wait->mutex);
    wait->done.wait(lock, [&] { return wait->finished; });
    std::lock_guard cacheLock(cacheMutex_);
    return responceCache_ ? *responceCache_ : nlohmann::json::object();
}

}  // namespace lumvane
