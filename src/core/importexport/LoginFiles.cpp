#include "core/importexport/LoginFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "core/importexport/CSVReader.h"
#include "core/importexport/TBNCSVLoader.h"
#include "crypto/OTPGenerator.h"
#include "crypto/TBNPasswordGenerator.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/site/HostPath.h"

namespace lumvane {

using nlohmann::json;

namespace {

bool parsesAsUrl(std::string_view text) {
    return parsesAsWebAddress(text);
}

bool hasScheme(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == ':') return true;
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

std::optional<std::string> stringAt(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

bool boolAt(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

std::optional<Bytes> base64At(const json& object, const char* key) {
    auto text = stringAt(object, key);
    if (!text) return std::nullopt;
    auto decoded = base64Decode(*text);
    if (!decoded) return std::nullopt;
    return Bytes(decoded->begin(), decoded->end());
}

std::optional<int64_t> integerAt(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (it->is_number_integer()) return it->get<int64_t>();
    if (it->is_number_float()) {
        double d = it->get<double>();
        // Outside this range the conversion would be undefined.
        if (d > -9.2e18 && d < 9.2e18) return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

std::optional<json> parseJson(std::string_view text) {
    json value = json::parse(text, nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

int16_t strengthOf(const std::optional<std::string>& password) {
    return static_cast<int16_t>(TBNPasswordGenerator::sharedGenerator().strengthPassword(
        password ? std::optional<std::string_view>(*password) : std::nullopt));
}

std::shared_ptr<TBNTwoFactorData> twoFactorFrom(const json& object) {
    auto type = stringAt(object, "2faType");
    if (!object.contains("2faType")) return nullptr;
    auto secret = base64At(object, "2faSecret");
    if (!secret) return nullptr;
    int32_t kind = type && *type == "HOTP" ? 0 : 1;
    std::string algorithm =
        stringAt(object, "2faAlgorithm").value_or(OTPGenerator::defaultAlgorithm());
    int64_t digits = static_cast<int64_t>(OTPGenerator::defaultDigits());
    if (auto d = integerAt(object, "2faDigits")) digits = *d;
    double period = TOTPGenerator::defaultPeriod();
    int64_t counter = static_cast<int64_t>(HOTPGenerator::defaultInitialCounter());
    if (kind == 1) {
        if (auto it = object.find("2faPeriod"); it != object.end() && it->is_number())
            period = it->get<double>();
    } else {
        if (auto c = integerAt(object, "2faCounter")) counter = *c;
    }
    return std::make_shared<TBNTwoFactorData>(kind, std::move(secret), algorithm, digits, counter,
                                              period);
}

std::optional<std::string> formAddress(const TBNSiteData& site) {
    if (!site.formUrls() || site.formUrls()->empty()) return std::nullopt;
    return *site.formUrls()->begin();
}

std::optional<std::string> siteName(const TBNSiteData& site) {
    if (site.siteUrl() && !site.siteUrl()->empty()) return site.siteUrl();
    return site.domain();
}

const std::string& textOr(const std::optional<std::string>& value) {
    static const std::string empty;
    return value ? *value : empty;
}

std::string base64Of(const Bytes& bytes) {
    return base64Encode(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace

std::shared_ptr<TBNSiteData> siteForLogin(
    const std::string& urlText, const std::string& name,
    const std::optional<std::string>& displayName,
    std::map<std::string, std::shared_ptr<TBNSiteData>>& byDomain, TBNSiteDataList& order) {
    std::string url = urlText;
    std::optional<std::string> address;  // A
    if (!url.empty()) {
        if (parsesAsUrl(url) && hasScheme(url)) {
            address = url;
        } else if (parsesAsUrl("https://" + url)) {
            address = "https://" + url;
        }
        if (address) url = *address;
    }
    std::string domain;
    std::string siteAddress;
    std::string n = name;
    if (!n.empty()) {
        bool dotted = n.find('.') != std::string::npos;
        // Our own export writes a site's full address as its name; putting "https://" in
        // front of that would make every such site the site "https" and merge them all.
        if (dotted && hasScheme(n) && parsesAsUrl(n)) {
            if (auto d = siteDomainName(n); d && !d->empty()) {
                if (!address) address = n;
                n = *d;
                dotted = false;
            }
        }
        if (!address && dotted && parsesAsUrl("https://" + n)) {
            address = "https://" + n;
            url = *address;
        }
        if (dotted && parsesAsUrl("https://" + n)) {
            if (auto d = siteDomainName("https://" + n)) n = *d;
        }
    }
    // A dotted name that names no site domain (":.") leaves nothing to key a site by: such a
    // login is placed as one without a name.
    if (!n.empty()) {
        siteAddress = address ? siteDomainName(*address).value_or("") : std::string();
        domain = n;
    } else {
        auto d = address ? siteDomainName(*address) : std::nullopt;
        if (d && !d->empty()) {
            domain = *d;
            siteAddress = *d;
        } else {
            // No name and no host to take one from.
            domain = "Unknown";
        }
    }
    auto& site = byDomain[domain];
    if (!site) {
        site = std::make_shared<TBNSiteData>(
            siteAddress, std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(),
            std::make_shared<std::set<std::string>>(), false, false,
            displayName ? displayName : std::optional<std::string>(std::string()), 0, domain);
        order.push_back(site);
    }
    if (!url.empty()) site->formUrls()->insert(url);
    return site;
}

std::optional<LumvaneJsonContent> readLumvaneJson(std::string_view text) {
    auto parsed = parseJson(text);
    if (!parsed || !parsed->is_array()) return std::nullopt;
    LumvaneJsonContent content;
    std::map<std::string, std::shared_ptr<TBNSiteData>> byDomain;
    for (const auto& object : *parsed) {
        if (!object.is_object()) continue;
        if (object.contains("u2fApplicationTag")) {
            auto record = std::make_shared<TBNU2FData>();
            record->setApplicationTag(base64At(object, "u2fApplicationTag"));
            if (auto key = base64At(object, "u2fPrivateKey")) record->setPrivateKey(std::move(key));
            content.u2fRecords->push_back(record);
            continue;
        }
        auto site = siteForLogin(stringAt(object, "url").value_or(""),
                                 stringAt(object, "domain").value_or(""),
                                 stringAt(object, "displayName"), byDomain, content.sites);
        auto password = stringAt(object, "password");
        std::shared_ptr<TBNYubikeyData> yubikey;
        if (auto handle = stringAt(object, "u2fKeyHandle"))
            yubikey = std::make_shared<TBNYubikeyData>(*handle);
        auto login = std::make_shared<TBNLoginData>(
            stringAt(object, "login").value_or(""), false, password, stringAt(object, "email"),
            stringAt(object, "phone_prefix"), stringAt(object, "phone"), 0,
            stringAt(object, "userName"), stringAt(object, "firstName"),
            stringAt(object, "lastName"), stringAt(object, "fullName"), stringAt(object, "company"),
            stringAt(object, "account"), stringAt(object, "applicantId"),
            stringAt(object, "zipcode"), false, stringAt(object, "notes"),
            boolAt(object, "isSecured"), boolAt(object, "isFavorited"), strengthOf(password),
            stringAt(object, "tags"), stringAt(object, "title"), 0, 0, 0, twoFactorFrom(object),
            yubikey);
        site->loginData()->push_back(login);
    }
    return content;
}

std::optional<TBNSiteDataList> readDashlaneJson(std::string_view text) {
    auto parsed = parseJson(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    TBNSiteDataList sites;
    auto it = parsed->find("AUTHENTIFIANT");
    if (it == parsed->end() || !it->is_array()) return sites;
    std::map<std::string, std::shared_ptr<TBNSiteData>> byDomain;
    for (const auto& object : *it) {
        if (!object.is_object()) continue;
        auto site =
            siteForLogin(stringAt(object, "domain").value_or(""),
                         stringAt(object, "title").value_or(""), std::nullopt, byDomain, sites);
        auto password = stringAt(object, "password");
        auto login = std::make_shared<TBNLoginData>();
        login->setLogin(stringAt(object, "login").value_or(""));
        login->setPasswordProvided(false);
        login->setPassword(password);
        login->setEmail(stringAt(object, "email"));
        login->setUserName(stringAt(object, "secondaryLogin"));
        login->setNotes(stringAt(object, "note"));
        login->setIsSecured(false);
        login->setIsFavorited(false);
        login->setPasswordStrength(strengthOf(password));
        site->loginData()->push_back(login);
    }
    return sites;
}

std::string lumvaneJsonText(const TBNSiteDataList& sites, const TBNU2FDataList& u2fRecords) {
    json out = json::array();
    for (const auto& site : sites) {
        if (!site || !site->loginData()) continue;
        auto url = formAddress(*site);
        auto name = siteName(*site);
        for (const auto& login : *site->loginData()) {
            if (!login) continue;
            json o = json::object();
            auto put = [&](const char* key, const std::optional<std::string>& value) {
                if (value && !value->empty()) o[key] = *value;
            };
            if (url) o["url"] = *url;
            if (name) o["domain"] = *name;
            put("displayName", site->displayName());
            put("title", login->title());
            put("login", login->login());
            put("password", login->password());
            put("email", login->email());
            put("phone_prefix", login->phone_prefix());
            put("phone", login->phone());
            put("userName", login->userName());
            put("firstName", login->firstName());
            put("lastName", login->lastName());
            put("fullName", login->fullName());
            put("company", login->company());
            put("account", login->account());
            put("applicantId", login->applicantId());
            put("zipcode", login->zipcode());
            put("notes", login->notes());
            put("tags", login->tags());
            if (login->isSecuredIsSet()) o["isSecured"] = login->isSecured();
            if (login->isFavoritedIsSet()) o["isFavorited"] = login->isFavorited();
            if (const auto& tf = login->twoFactor();
                tf && tf->typeIsSet() && (tf->type() == 0 || tf->type() == 1)) {
                o["2faType"] = tf->type() == 1 ? "TOTP" : "HOTP";
                if (tf->secret() && !tf->secret()->empty())
                    o["2faSecret"] = base64Of(*tf->secret());
                if (tf->algorithm() && !tf->algorithm()->empty())
                    o["2faAlgorithm"] = *tf->algorithm();
                if (tf->digitsIsSet()) o["2faDigits"] = tf->digits();
                if (tf->counterIsSet()) o["2faCounter"] = tf->counter();
                if (tf->periodIsSet()) o["2faPeriod"] = tf->period();
            }
            if (const auto& yk = login->yubikey();
                yk && yk->keyHandle() && !yk->keyHandle()->empty())
                o["u2fKeyHandle"] = *yk->keyHandle();
            out.push_back(std::move(o));
        }
    }
    for (const auto& record : u2fRecords) {
        if (!record) continue;
        json o = json::object();
        // Always present: it is what tells a security-key object from a login.
        o["u2fApplicationTag"] =
            record->applicationTag() ? base64Of(*record->applicationTag()) : "";
        if (record->privateKey() && !record->privateKey()->empty())
            o["u2fPrivateKey"] = base64Of(*record->privateKey());
        out.push_back(std::move(o));
    }
    return out.dump(2);
}

std::string lumvaneCsvText(const TBNSiteDataList& sites) {
    std::string out =
        "domain,display_name,login,password,account,email,phone_prefix,phone,user_name,"
        "first_name,last_name,full_name,company,applicant_id,zipcode,is_secured,is_favorited,url,"
        "notes\n";
    for (const auto& site : sites) {
        if (!site || !site->loginData()) continue;
        auto url = formAddress(*site);
        auto name = siteName(*site);
        for (const auto& login : *site->loginData()) {
            if (!login) continue;
            const std::string values[] = {
                textOr(name),
                textOr(site->displayName()),
                textOr(login->login()),
                textOr(login->password()),
                textOr(login->account()),
                textOr(login->email()),
                textOr(login->phone_prefix()),
                textOr(login->phone()),
                textOr(login->userName()),
                textOr(login->firstName()),
                textOr(login->lastName()),
                textOr(login->fullName()),
                textOr(login->company()),
                textOr(login->applicantId()),
                textOr(login->zipcode()),
                login->isSecured() && login->isSecuredIsSet() ? "true" : "false",
                login->isFavorited() && login->isFavoritedIsSet() ? "true" : "false",
                textOr(url),
                stringEscapedForCSV(textOr(login->notes()))};
            bool first = true;
            for (const auto& v : values) {
                if (!first) out.push_back(',');
                first = false;
                out += csvQuoted(v);
            }
            out.push_back('\n');
        }
    }
    return out;
}

std::string lastpassCsvText(const TBNSiteDataList& sites) {
    std::string out = "url,username,password,extra,name,grouping,fav\n";
    for (const auto& site : sites) {
        if (!site || !site->loginData()) continue;
        auto url = formAddress(*site);
        auto name = siteName(*site);
        for (const auto& login : *site->loginData()) {
            if (!login) continue;
            const std::string values[] = {
                textOr(url),
                textOr(login->login()),
                textOr(login->password()),
                stringEscapedForCSV(textOr(login->notes())),
                textOr(name),
                "",
                login->isFavorited() && login->isFavoritedIsSet() ? "1" : "0"};
            bool first = true;
            for (const auto& v : values) {
                if (!first) out.push_back(',');
                first = false;
                out += csvAlwaysQuoted(htmlEntitiesEncoded(v));
            }
            out.push_back('\n');
        }
    }
    return out;
}

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes) {
    auto fail = [](const std::string& what) {
        return std::optional<std::string>(what + ": " + std::strerror(errno));
    };
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) dir = ".";
    std::string tmp = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return fail("Cannot create file");
    auto abandon = [&](const std::string& what) {
        auto message = fail(what);
        ::close(fd);
        ::unlink(tmp.c_str());
        return message;
    };
    if (::fchmod(fd, 0600) != 0) return abandon("Cannot set file mode");
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon("Cannot write file");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return abandon("Cannot write file");
    if (::close(fd) != 0) {
        auto message = fail("Cannot write file");
        ::unlink(tmp.c_str());
        return message;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        auto message = fail("Cannot replace file");
        ::unlink(tmp.c_str());
        return message;
    }
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return std::nullopt;
}

}  // namespace lumvane
