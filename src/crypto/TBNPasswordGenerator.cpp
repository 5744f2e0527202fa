#include "crypto/TBNPasswordGenerator.h"

#include <unicode/uchar.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "crypto/TBNCryptRnd.h"

#ifndef LUMVANE_WORDLIST_BUILD_PATH
#define LUMVANE_WORDLIST_BUILD_PATH ""
#endif
#ifndef LUMVANE_WORDLIST_INSTALL_PATH
#define LUMVANE_WORDLIST_INSTALL_PATH ""
#endif

namespace lumvane {

namespace {

// Code points of a UTF-8 text; malformed or overlong sequences become U+FFFD.
std::vector<char32_t> codePoints(std::string_view s) {
    std::vector<char32_t> out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        size_t need = 0;
        char32_t cp = 0;
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        } else if ((b0 & 0xE0) == 0xC0) {
            need = 1;
            cp = b0 & 0x1F;
        } else if ((b0 & 0xF0) == 0xE0) {
            need = 2;
            cp = b0 & 0x0F;
        } else if ((b0 & 0xF8) == 0xF0) {
            need = 3;
            cp = b0 & 0x07;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (i + need >= s.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = true;
        for (size_t k = 1; k <= need; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = cp << 6 | (b & 0x3F);
        }
        static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += need + 1;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool isLower(char16_t c) {
    return u_islower(c);
}
bool isUpper(char16_t c) {
    return u_isupper(c) || u_istitle(c);
}
bool isDigit(char16_t c) {
    return u_isdigit(c);
}
bool isSymbol(char16_t c) {
    return !isLower(c) && !isUpper(c) && !isDigit(c);
}

template <class Pred>
int64_t countOf(std::u16string_view p, Pred pred) {
    int64_t n = 0;
    for (char16_t c : p) {
        if (pred(c)) ++n;
    }
    return n;
}

template <class Pred>
std::u16string filtered(std::u16string_view p, Pred pred) {
    std::u16string out;
    for (char16_t c : p) {
        if (pred(c)) out += c;
    }
    return out;
}

int64_t classTerm(std::u16string_view p, int64_t count) {
    const auto n = static_cast<int64_t>(p.size());
    return count < n ? 4 * count : 0;
}

std::u16string lowercased(std::u16string_view p) {
    std::u16string out;
    out.reserve(p.size());
    for (size_t i = 0; i < p.size(); ++i) {
        char32_t cp = p[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < p.size() && p[i + 1] >= 0xDC00 &&
            p[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf16(out, static_cast<char32_t>(u_tolower(static_cast<UChar32>(cp))));
    }
    return out;
}

std::string lowercasedUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t cp : codePoints(s)) {
        appendUtf8(out, static_cast<char32_t>(u_tolower(static_cast<UChar32>(cp))));
    }
    return out;
}

void checkPercentage(std::optional<int16_t> value, const char* name) {
    const int v = value.value_or(0);
    if (v < 0 || v > 100) {
        throw std::invalid_argument(std::string("Generator ") + name +
                                    " percentage must be between 0 and 100");
    }
}

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace

TBNPasswordGenerator& TBNPasswordGenerator::sharedGenerator() {
    static TBNPasswordGenerator instance(defaultWordListPath());
    return instance;
}

TBNPasswordGenerator::TBNPasswordGenerator(const std::optional<std::filesystem::path>& wordList) {
    if (!wordList) {
        return;
    }
    std::ifstream in(*wordList, std::ios::binary);
    if (!in) {
        return;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    // Entries in file order, split at every "\n" and not trimmed.
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        defaultPasswords_.push_back(
            text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    passwordSet_.reserve(defaultPasswords_.size());
    passwordSet_.insert(defaultPasswords_.begin(), defaultPasswords_.end());
}

std::filesystem::path TBNPasswordGenerator::buildTreeWordListPath() {
    return LUMVANE_WORDLIST_BUILD_PATH;
}

std::optional<std::filesystem::path> TBNPasswordGenerator::defaultWordListPath() {
    namespace fs = std::filesystem;
    std::vector<fs::path> candidates;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(exe.parent_path().parent_path() / "share" / "lumvane" /
                             std::string(kWordListName));
    }
    candidates.emplace_back(LUMVANE_WORDLIST_INSTALL_PATH);
    candidates.push_back(buildTreeWordListPath());
    for (const auto& path : candidates) {
        if (!path.empty() && fs::is_regular_file(path, ec)) {
            return path;
        }
    }
    return std::nullopt;
}

std::string TBNPasswordGenerator::generateByConfig(const GeneratorConfigValues& config) const {
    if (!config.useCapitalization) {
        return generateByConfigOld(config);
    }
    const int length = config.lenght.value_or(0);
    if (length < 0) {
        throw std::invalid_argument("Generator length must not be negative");
    }
    const bool capitals = *config.useCapitalization;
    const bool digits = config.useDigits.value_or(false);
    const bool symbols = config.useSymbols.value_or(false);
    std::string pool(kLetters);
    if (capitals) pool += kCapitalizationLetters;
    if (digits) pool += kDigits;
    if (symbols) pool += kSymbols;
    const Bytes poolBytes = bytesOf(pool);

    auto holdsAny = [](const Bytes& text, std::string_view set) {
        for (uint8_t c : text) {
            if (set.find(static_cast<char>(c)) != std::string_view::npos) return true;
        }
        return false;
    };
    for (;;) {
        Bytes drawn =
            TBNCryptRnd::shareRnd().randomDataByLenght(static_cast<uint64_t>(length), poolBytes);
        if (length < 6 ||
            (holdsAny(drawn, kLetters) && (!capitals || holdsAny(drawn, kCapitalizationLetters)) &&
             (!digits || holdsAny(drawn, kDigits)) && (!symbols || holdsAny(drawn, kSymbols)))) {
            return std::string(drawn.begin(), drawn.end());
        }
    }
}

std::string TBNPasswordGenerator::generateByConfigOld(const GeneratorConfigValues& config) const {
    const int length = config.lenght.value_or(0);
    if (length < 0) {
        throw std::invalid_argument("Generator length must not be negative");
    }
    checkPercentage(config.digits, "digits");
    checkPercentage(config.symbols, "symbols");
    checkPercentage(config.capitalization, "capitalization");
    if (config.digits.value_or(0) + config.symbols.value_or(0) > 100) {
        throw std::invalid_argument("Generator digits and symbols must not exceed 100 percent");
    }
    const int d = length * config.digits.value_or(0) / 100;
    const int s = length * config.symbols.value_or(0) / 100;
    const int r = length - d - s;
    const int u = r * config.capitalization.value_or(0) / 100;
    auto& rnd = TBNCryptRnd::shareRnd();
    Bytes joined = rnd.randomDataByLenght(static_cast<uint64_t>(r - u), bytesOf(kLetters));
    auto append = [&joined](const Bytes& part) {
        joined.insert(joined.end(), part.begin(), part.end());
    };
    append(rnd.randomDataByLenght(static_cast<uint64_t>(u), bytesOf(kCapitalizationLetters)));
    append(rnd.randomDataByLenght(static_cast<uint64_t>(d), bytesOf(kDigits)));
    append(rnd.randomDataByLenght(static_cast<uint64_t>(s), bytesOf(kSymbols)));
    Bytes shuffled = rnd.randomSortData(rnd.randomSortData(joined));
    return std::string(shuffled.begin(), shuffled.end());
}

std::optional<GeneratorConfigValues> TBNPasswordGenerator::configByProfile(int32_t profile) {
    static constexpr int16_t kLength[] = {8, 8, 20, 20, 30, 30, 40, 40, 50};
    static constexpr int16_t kDigitsPct[] = {0, 50, 0, 50, 0, 50, 0, 50, 50};
    static constexpr int16_t kCapitalsPct[] = {0, 50, 50, 50, 50, 50, 50, 50, 50};
    if (profile < 0 || profile > 8) {
        return std::nullopt;
    }
    GeneratorConfigValues v;
    v.lenght = kLength[profile];
    v.digits = kDigitsPct[profile];
    v.symbols = 0;
    v.readability = 0;
    v.capitalization = kCapitalsPct[profile];
    v.useDigits = false;
    v.useSymbols = false;
    v.useCapitalization = false;
    return v;
}

unsigned TBNPasswordGenerator::strengthPassword(std::optional<std::string_view> password) const {
    if (!password || password->empty()) {
        return 0;
    }
    std::u16string p = utf16(*password);
    if (p.empty()) {
        return 0;
    }
    if (p.size() >= 8 && !passwordSet_.empty() &&
        passwordSet_.count(lowercasedUtf8(*password)) != 0) {
        return 0;
    }
    if (p.size() > kMaxRatedLength) {
        p.resize(kMaxRatedLength);
    }
    const int64_t score = scorePassword(p);
    if (score < 40) return 0;
    if (score < 80) return 1;
    if (score < 120) return 2;
    if (score < 160) return 3;
    return 4;
}

int64_t TBNPasswordGenerator::scorePassword(std::u16string_view p) {
    return coefNumberOfCharactersForPassword(p) + coefLowercaseLettersForPassword(p) +
           coefUppercaseLettersForPassword(p) + coefNumbersForPassword(p) +
           coefSymbolsForPassword(p) + coefMiddleNumbersSymbolsForPassword(p) +
           coefRequirementsForPassword(p) + coefLettersOnlyForPassword(p) +
           coefRepeatCharactersForPassword(p) + coefConsecutiveUppercaseLettersForPassword(p) +
           coefConsecutiveLowercaseLettersForPassword(p) + coefConsecutiveNumbersForPassword(p) +
           coefSequentialLettersForPassword(p) + coefSequentialNumbersForPassword(p) +
           coefSequentialSymbolsForPassword(p);
}

int64_t TBNPasswordGenerator::coefNumberOfCharactersForPassword(std::u16string_view p) {
    return 4 * static_cast<int64_t>(p.size());
}

int64_t TBNPasswordGenerator::coefLowercaseLettersForPassword(std::u16string_view p) {
    return classTerm(p, countOf(p, isLower));
}

int64_t TBNPasswordGenerator::coefUppercaseLettersForPassword(std::u16string_view p) {
    return classTerm(p, countOf(p, isUpper));
}

int64_t TBNPasswordGenerator::coefNumbersForPassword(std::u16string_view p) {
    return classTerm(p, countOf(p, isDigit));
}

int64_t TBNPasswordGenerator::coefSymbolsForPassword(std::u16string_view p) {
    return classTerm(p, countOf(p, isSymbol));
}

int64_t TBNPasswordGenerator::coefMiddleNumbersSymbolsForPassword(std::u16string_view p) {
    if (p.size() < 4) {
        return 0;
    }
    const auto middle = p.substr(1, p.size() - 2);
    return 2 * countOf(middle, [](char16_t c) { return isDigit(c) || isSymbol(c); });
}

int64_t TBNPasswordGenerator::coefRequirementsForPassword(std::u16string_view p) {
    const bool longEnough = p.size() >= 8;
    const int64_t r = (longEnough ? 1 : 0) + (countOf(p, isLower) > 0 ? 1 : 0) +
                      (countOf(p, isUpper) > 0 ? 1 : 0) + (countOf(p, isDigit) > 0 ? 1 : 0) +
                      (countOf(p, isSymbol) > 0 ? 1 : 0);
    return r > (longEnough ? 3 : 2) ? 2 * r : 0;
}

int64_t TBNPasswordGenerator::coefLettersOnlyForPassword(std::u16string_view p) {
    const int64_t letters = countOf(p, isLower) + countOf(p, isUpper);
    return letters == static_cast<int64_t>(p.size()) ? -letters : 0;
}

int64_t TBNPasswordGenerator::coefNumbersOnlyForPassword(std::u16string_view p) {
    const int64_t nd = countOf(p, isDigit);
    return nd == static_cast<int64_t>(p.size()) ? -nd : 0;
}

int64_t TBNPasswordGenerator::coefRepeatCharactersForPassword(std::u16string_view p) {
    const auto n = static_cast<int64_t>(p.size());
    // Positions grouped by code unit: each position only meets its equals, so
    // the work is the sum of the squared group sizes, not n squared.
    std::unordered_map<char16_t, std::vector<int64_t>> positions;
    for (int64_t i = 0; i < n; ++i) {
        positions[p[static_cast<size_t>(i)]].push_back(i);
    }
    std::unordered_map<char16_t, size_t> seen;
    int64_t inc = 0;
    int64_t rep = 0;
    for (int64_t a = 0; a < n; ++a) {
        const auto& group = positions[p[static_cast<size_t>(a)]];
        const size_t index = seen[p[static_cast<size_t>(a)]]++;
        if (group.size() < 2) {
            continue;
        }
        for (size_t k = index + 1; k < group.size(); ++k) {
            inc += n / (group[k] - a);
        }
        ++rep;
        const int64_t unique = n - rep;
        if (unique > 0) {
            inc = (inc + unique - 1) / unique;
        }
    }
    return rep > 0 ? -inc : 0;
}

int64_t TBNPasswordGenerator::coefConsecutiveForPassword(std::u16string_view p,
                                                         CharacterClass characterSet) {
    auto inClass = [characterSet](char16_t c) {
        switch (characterSet) {
            case CharacterClass::lowercaseLetters:
                return isLower(c);
            case CharacterClass::uppercaseLetters:
                return isUpper(c);
            case CharacterClass::decimalDigits:
                return isDigit(c);
        }
        return false;
    };
    int64_t sum = 0;
    int64_t run = 0;
    for (char16_t c : p) {
        if (inClass(c)) {
            ++run;
        } else {
            if (run > 0) sum += run - 1;
            run = 0;
        }
    }
    if (run > 0) sum += run - 1;
    return -sum;
}

int64_t TBNPasswordGenerator::coefConsecutiveUppercaseLettersForPassword(std::u16string_view p) {
    return coefConsecutiveForPassword(p, CharacterClass::uppercaseLetters);
}

int64_t TBNPasswordGenerator::coefConsecutiveLowercaseLettersForPassword(std::u16string_view p) {
    return coefConsecutiveForPassword(p, CharacterClass::lowercaseLetters);
}

int64_t TBNPasswordGenerator::coefConsecutiveNumbersForPassword(std::u16string_view p) {
    return coefConsecutiveForPassword(p, CharacterClass::decimalDigits);
}

int64_t TBNPasswordGenerator::coefSequentialForPassword(std::u16string_view q,
                                                        std::u16string_view t) {
    if (t.empty()) {
        return 0;
    }
    const size_t last = t.size() - 1;
    bool inSequence = false;
    size_t j = 0;
    int64_t steps = 0;
    size_t i = 0;
    while (i < q.size()) {
        const char16_t c = q[i];
        if (inSequence) {
            if (c == t[j]) {
                ++steps;
                if (j != last) {
                    ++j;
                } else {
                    inSequence = false;
                }
                ++i;
            } else {
                inSequence = false;  // look at the same character again, from the start
            }
            continue;
        }
        const size_t k = t.find(c);
        if (k != std::u16string_view::npos && k != last) {
            inSequence = true;
            j = k + 1;
        }
        ++i;
    }
    return -3 * steps;
}

int64_t TBNPasswordGenerator::coefSequentialLettersForPassword(std::u16string_view p) {
    return coefSequentialForPassword(lowercased(p), u"abcdefghijklmnopqrstuvwxyz");
}

int64_t TBNPasswordGenerator::coefSequentialNumbersForPassword(std::u16string_view p) {
    return coefSequentialForPassword(p, u"01234567890");
}

int64_t TBNPasswordGenerator::coefSequentialSymbolsForPassword(std::u16string_view p) {
    return coefSequentialForPassword(p, u")!@#$%^&*()");
}

std::u16string TBNPasswordGenerator::lowercaseLettersForPassword(std::u16string_view p) {
    return filtered(p, isLower);
}

std::u16string TBNPasswordGenerator::uppercaseLettersForPassword(std::u16string_view p) {
    return filtered(p, isUpper);
}

std::u16string TBNPasswordGenerator::numbersForPassword(std::u16string_view p) {
    return filtered(p, isDigit);
}

std::u16string TBNPasswordGenerator::symbolsForPassword(std::u16string_view p) {
    return filtered(p, isSymbol);
}

std::vector<std::u16string> TBNPasswordGenerator::charactersArrayFromString(
    std::u16string_view text) {
    std::vector<std::u16string> out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out.emplace_back(1, c);
    }
    return out;
}

std::u16string TBNPasswordGenerator::utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (char32_t cp : codePoints(utf8)) {
        appendUtf16(out, cp);
    }
    return out;
}

}  // namespace lumvane
