#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "crypto/CryptoTypes.h"

namespace lumvane {

// The generator's view of a generator configuration record: each field with its
// is-set state. Any record with lenght()/lenghtIsSet()-style accessors converts
// through configValuesOf().
struct GeneratorConfigValues {
    std::optional<int16_t> lenght;
    std::optional<int16_t> digits;
    std::optional<int16_t> symbols;
    std::optional<int16_t> readability;
    std::optional<int16_t> capitalization;
    std::optional<bool> useDigits;
    std::optional<bool> useSymbols;
    std::optional<bool> useCapitalization;

    bool operator==(const GeneratorConfigValues&) const = default;
};

template <class Config>
concept GeneratorConfigRecord = requires(const Config& c) {
    c.lenght();
    c.lenghtIsSet();
    c.useCapitalizationIsSet();
};

template <GeneratorConfigRecord Config>
GeneratorConfigValues configValuesOf(const Config& c) {
    GeneratorConfigValues v;
    if (c.lenghtIsSet()) v.lenght = c.lenght();
    if (c.digitsIsSet()) v.digits = c.digits();
    if (c.symbolsIsSet()) v.symbols = c.symbols();
    if (c.readabilityIsSet()) v.readability = c.readability();
    if (c.capitalizationIsSet()) v.capitalization = c.capitalization();
    if (c.useDigitsIsSet()) v.useDigits = c.useDigits();
    if (c.useSymbolsIsSet()) v.useSymbols = c.useSymbols();
    if (c.useCapitalizationIsSet()) v.useCapitalization = c.useCapitalization();
    return v;
}

// Random passwords from a generator configuration, and a strength meter from 0
// (weakest) to 4. One shared instance; all operations are safe from any thread.
class TBNPasswordGenerator {
  public:
    enum class CharacterClass { lowercaseLetters, uppercaseLetters, decimalDigits };

    static constexpr std::string_view kLetters = "abcdefghjkmnopqrstuvwxyz";
    static constexpr std::string_view kCapitalizationLetters = "ABCDEFGHIJKLMNPQRSTUVWXYZ";
    static constexpr std::string_view kDigits = "23456789";
    static constexpr std::string_view kSymbols = "(){}[]#:;^,.?!|&_`~@$%\\/=+-*";
    static constexpr std::string_view kWordListName = "uniq_dict_8_n.dic";
    // The meter rates at most this many UTF-16 code units (the rest of a longer
    // input is not looked at), which bounds the quadratic repeat term.
    static constexpr size_t kMaxRatedLength = 1024;

    static TBNPasswordGenerator& sharedGenerator();

    // A generator reading its word list from the given file (none: an empty list).
    explicit TBNPasswordGenerator(const std::optional<std::filesystem::path>& wordList);

    // The installed word list (next to the program or under the install prefix),
    // else the one in the build tree; nothing when none exists.
    static std::optional<std::filesystem::path> defaultWordListPath();
    // Where the build writes the word list.
    static std::filesystem::path buildTreeWordListPath();

    // Throws std::invalid_argument for a negative length, or, in the older form,
    // percentages outside 0-100 or digits plus symbols above 100.
    std::string generateByConfig(const GeneratorConfigValues& config) const;
    std::string generateByConfigOld(const GeneratorConfigValues& config) const;
    template <GeneratorConfigRecord Config>
    std::string generateByConfig(const Config& config) const {
        return generateByConfig(configValuesOf(config));
    }
    template <GeneratorConfigRecord Config>
    std::string generateByConfigOld(const Config& config) const {
        return generateByConfigOld(configValuesOf(config));
    }

    // Profiles 0-8 with every field set; nothing for any other number.
    static std::optional<GeneratorConfigValues> configByProfile(int32_t profile);

    // Strength 0-4 of a UTF-8 password; nothing or empty gives 0.
    unsigned strengthPassword(std::optional<std::string_view> password) const;
    // The score behind the strength (the sum of the fifteen terms below) of a
    // password that is not in the word list.
    static int64_t scorePassword(std::u16string_view password);

    // Score terms, over UTF-16 code units.
    static int64_t coefNumberOfCharactersForPassword(std::u16string_view p);
    static int64_t coefLowercaseLettersForPassword(std::u16string_view p);
    static int64_t coefUppercaseLettersForPassword(std::u16string_view p);
    static int64_t coefNumbersForPassword(std::u16string_view p);
    static int64_t coefSymbolsForPassword(std::u16string_view p);
    static int64_t coefMiddleNumbersSymbolsForPassword(std::u16string_view p);
    static int64_t coefRequirementsForPassword(std::u16string_view p);
    static int64_t coefLettersOnlyForPassword(std::u16string_view p);
    static int64_t coefNumbersOnlyForPassword(std::u16string_view p);
    static int64_t coefRepeatCharactersForPassword(std::u16string_view p);
    static int64_t coefConsecutiveUppercaseLettersForPassword(std::u16string_view p);
    static int64_t coefConsecutiveLowercaseLettersForPassword(std::u16string_view p);
    static int64_t coefConsecutiveNumbersForPassword(std::u16string_view p);
    static int64_t coefSequentialLettersForPassword(std::u16string_view p);
    static int64_t coefSequentialNumbersForPassword(std::u16string_view p);
    static int64_t coefSequentialSymbolsForPassword(std::u16string_view p);
    static int64_t coefConsecutiveForPassword(std::u16string_view p, CharacterClass characterSet);
    static int64_t coefSequentialForPassword(std::u16string_view p,
                                             std::u16string_view sequentialString);

    static std::u16string lowercaseLettersForPassword(std::u16string_view p);
    static std::u16string uppercaseLettersForPassword(std::u16string_view p);
    static std::u16string numbersForPassword(std::u16string_view p);
    static std::u16string symbolsForPassword(std::u16string_view p);
    static std::vector<std::u16string> charactersArrayFromString(std::u16string_view text);

    // UTF-8 to UTF-16; malformed sequences become U+FFFD.
    static std::u16string utf16(std::string_view utf8);

    const std::vector<std::string>& defaultPasswords() const { return defaultPasswords_; }

  private:
    std::vector<std::string> defaultPasswords_;
    std::unordered_set<std::string> passwordSet_;
};

}  // namespace lumvane
