#include "core/importexport/TBNCSVLoader.h"

#include <fstream>
#include <unordered_map>

#include "core/importexport/CSVReader.h"
#include "crypto/TBNPasswordGenerator.h"
#include "protocol/site/HostPath.h"
#include "runtime/TBNUtil.h"
#include "runtime/log/TBNLogger.h"

namespace lumvane {

std::optional<std::string> readImportFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data;
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        auto got = static_cast<size_t>(in.gcount());
        if (data.size() + got > kMaxImportFileSize) return std::nullopt;
        data.append(buffer, got);
    }
    if (in.bad()) return std::nullopt;
    return data;
}

bool looksLikeText(std::string_view bytes) {
    size_t controls = 0;
    for (unsigned char c : bytes) {
        if (c == 0) return false;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F) {
            ++controls;
        }
    }
    return controls * 100 <= bytes.size();
}

TBNCSVKeyMap TBNCSVKeyMap::byName(
    std::initializer_list<std::pair<const std::string, std::string>> m) {
    TBNCSVKeyMap map;
    map.columns = std::map<std::string, std::string>(m);
    return map;
}

TBNCSVKeyMap TBNCSVKeyMap::byColumn(std::initializer_list<std::pair<std::string, int>> m) {
    TBNCSVKeyMap map;
    map.byNumber = true;
    for (const auto& [key, column] : m) map.columns[key] = std::to_string(column);
    return map;
}

std::string stringEscapedForCSV(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string stringEscapedFromCSV(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out.push_back(c);
            continue;
        }
        char next = text[i + 1];
        char replaced = 0;
        switch (next) {
            case '\\':
                replaced = '\\';
                break;
            case '"':
                replaced = '"';
                break;
            case '\'':
                replaced = '\'';
                break;
            case 'n':
                replaced = '\n';
                break;
            case 'r':
                replaced = '\r';
                break;
            case 'f':
                replaced = '\f';
                break;
            case 't':
                replaced = '\t';
                break;
            default:
                break;
        }
        if (replaced) {
            out.push_back(replaced);
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string htmlEntitiesEncoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out.push_back(c);
    }
    return out;
}

std::string htmlEntitiesDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto rest = text.substr(i);
        if (rest.starts_with("&amp;")) {
            out.push_back('&');
            i += 5;
        } else if (rest.starts_with("&lt;")) {
            out.push_back('<');
            i += 4;
        } else if (rest.starts_with("&gt;")) {
            out.push_back('>');
            i += 4;
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

namespace {

using Row = std::unordered_map<std::string, std::string>;

void setError(std::optional<TBNCSVLoaderError>* error, int code, std::string message) {
    if (error) *error = TBNCSVLoaderError{code, std::move(message)};
}

// Empty text when the map has no such key; nothing when the row lacks the column.
std::optional<std::string> valueFromRow(const Row& row, const std::string& key,
                                        const TBNCSVKeyMap& keys) {
    auto k = keys.columns.find(key);
    if (k == keys.columns.end()) return std::string();
    auto v = row.find(k->second);
    if (v == row.end()) return std::nullopt;
    if (keys.backslashEscapes) return stringEscapedFromCSV(v->second);
    if (keys.htmlEntities) return htmlEntitiesDecoded(v->second);
    return v->second;
}

bool filterRow(const Row& row, const std::vector<TBNCSVLoaderFilter>& filters) {
    // Allowed counts, denied counts, allowed values, denied values, in this order.
    for (const auto& f : filters)
        if (f.allowedColumnCount && row.size() != *f.allowedColumnCount) return true;
    for (const auto& f : filters)
        if (f.deniedColumnCount && row.size() == *f.deniedColumnCount) return true;
    for (const auto& f : filters) {
        if (!f.columnContainesValue) continue;
        auto v = row.find(f.columnContainesValue->first);
        if (v == row.end() || v->second != f.columnContainesValue->second) return true;
    }
    for (const auto& f : filters) {
        if (!f.columnNotContainesValue) continue;
        auto v = row.find(f.columnNotContainesValue->first);
        if (v != row.end() && v->second == f.columnNotContainesValue->second) return true;
    }
    return false;
}

}  // namespace

bool parsesAsWebAddress(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F) return false;
    return true;
}

TBNSiteList TBNCSVLoader::loadFromFile(const std::filesystem::path& path, const TBNCSVKeyMap& keys,
                                       std::optional<TBNCSVLoaderError>* error) {
    return loadFromFile(path, keys, {}, error);
}

TBNSiteList TBNCSVLoader::loadFromFile(const std::filesystem::path& path, const TBNCSVKeyMap& keys,
                                       const std::vector<TBNCSVLoaderFilter>& filters,
                                       std::optional<TBNCSVLoaderError>* error) {
    auto text = readImportFile(path);
    if (!text) TBN_LOG_WARN("core|import", "CSV file cannot be read");
    return loadFromText(text ? *text : std::string(), keys, filters, error);
}

TBNSiteList TBNCSVLoader::loadFromText(std::string_view text, const TBNCSVKeyMap& keys,
                                       const std::vector<TBNCSVLoaderFilter>& filters,
                                       std::optional<TBNCSVLoaderError>* error,
                                       TBNCSVLoadStats* stats) {
    TBNCSVLoadStats counted;
    if (!keys.columns.count("url") && !keys.columns.count("domain")) {
        setError(error, -1, "Missed url key (need 'url' or 'domain' key)");
        return {};
    }
    if (!keys.columns.count("login") || !keys.columns.count("password")) {
        setError(error, -2, "Missed account keys (need 'login' and 'password' keys)");
        return {};
    }
    const bool needParseHeader = !keys.byNumber;

    CSVReadResult parsed = CSVReader::read(text, keys.backslashEscapes);
    if (parsed.comments) TBN_LOG_DEBUG("core|import", "comment lines: {}", parsed.comments);
    if (parsed.failed) TBN_LOG_WARN("core|import", "error: quoted field left open at end of file");

    std::vector<std::string> header;
    bool haveHeader = false;
    std::vector<Row> rows;
    rows.reserve(parsed.lines.size());
    for (auto& line : parsed.lines) {
        if (!haveHeader && needParseHeader) {
            for (size_t i = 0; i < line.size(); ++i)
                header.push_back(line[i].empty() ? std::to_string(i) : line[i]);
            haveHeader = true;
            continue;
        }
        Row row;
        if (haveHeader) {
            if (line.size() != header.size()) {
                ++counted.rows;
                ++counted.misshapenRows;
                continue;
            }
            for (size_t i = 0; i < line.size(); ++i) row[header[i]] = std::move(line[i]);
        } else {
            for (size_t i = 0; i < line.size(); ++i) row[std::to_string(i)] = std::move(line[i]);
        }
        rows.push_back(std::move(row));
    }

    if (needParseHeader) {
        for (const auto& [key, column] : keys.columns) {
            (void)key;
            bool found = false;
            for (const auto& h : header) found = found || h == column;
            if (!found) {
                setError(error, -3, "Unsuported file format");
                return {};
            }
        }
    }

    auto& generator = TBNPasswordGenerator::sharedGenerator();
    TBNSiteList result;
    std::unordered_map<std::string, std::shared_ptr<TBNSiteData>> sites;
    auto hasColumn = [&](const Row& row, const char* key) {
        auto k = keys.columns.find(key);
        return k != keys.columns.end() && row.count(k->second) > 0;
    };
    for (const auto& row : rows) {
        if (!filters.empty() && filterRow(row, filters)) continue;
        ++counted.rows;
        if (!(hasColumn(row, "url") || hasColumn(row, "domain")) || !hasColumn(row, "login") ||
            !hasColumn(row, "password")) {
            ++counted.misshapenRows;
        }
        std::string url = valueFromRow(row, "url", keys).value_or("");
        std::string domain = valueFromRow(row, "domain", keys).value_or("");
        if (url.empty() && domain.empty()) {
            domain = "Unknown";
        } else if (url.empty()) {
            if (TBNUtil::validateUrl(domain)) url = "http://" + domain;
        } else if (domain.empty()) {
            domain = parsesAsWebAddress(url) ? siteDomainName(url).value_or("") : std::string();
        }
        // An address without a host gives no domain: the row then produces nothing.
        if (!domain.empty() && !url.empty() && !TBNUtil::validateUrl(domain) &&
            parsesAsWebAddress(url)) {
            domain = siteDomainName(url).value_or("");
        }
        auto login = valueFromRow(row, "login", keys);
        auto password = valueFromRow(row, "password", keys);
        bool hasLogin = login && !login->empty();
        bool hasPassword = password && !password->empty();
        if (domain.empty() || (!hasLogin && !hasPassword)) continue;

        auto& site = sites[domain];
        if (!site) {
            site = std::make_shared<TBNSiteData>(
                TBNUtil::validateUrl(domain) ? domain : std::string(),
                std::make_shared<std::vector<std::shared_ptr<TBNLoginData>>>(),
                std::make_shared<std::set<std::string>>(), false, false,
                valueFromRow(row, "display_name", keys), 0, domain);
            result.push_back(site);
        }
        auto text = [&](const char* key) { return valueFromRow(row, key, keys); };
        auto flag = [&](const char* key) {
            auto v = text(key);
            return v && keys.trueTexts.count(*v) > 0;
        };
        auto notes = text("notes");
        if (notes && !keys.backslashEscapes) notes = stringEscapedFromCSV(*notes);
        auto strength = static_cast<int16_t>(generator.strengthPassword(
            password ? std::optional<std::string_view>(*password) : std::nullopt));
        auto entry = std::make_shared<TBNLoginData>(
            login, false, password, text("email"), text("phone_prefix"), text("phone"), 0,
            text("user_name"), text("first_name"), text("last_name"), text("full_name"),
            text("company"), text("account"), text("applicant_id"), text("zipcode"), false, notes,
            flag("is_secured"), flag("is_favorited"), strength, text("tags"), text("title"), 0, 0,
            0, nullptr, nullptr);
        bool duplicate = false;
        for (const auto& existing : *site->loginData()) {
            if (existing->login() == login && existing->password() == password) {
                duplicate = true;
                break;
            }
        }
        if (!duplicate) site->loginData()->push_back(entry);
        if (!url.empty()) site->formUrls()->insert(url);
    }
    if (stats) *stats = counted;
    if (result.empty()) setError(error, -3, "No entry for import");
    return result;
}

}  // namespace lumvane
