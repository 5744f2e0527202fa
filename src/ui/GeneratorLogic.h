#pragma once
// The password generators' working copy of the generator settings, without widgets:
// loading it from the store, changing it within the controls' ranges, saving it, and the
// password and strength it gives. No Qt here.
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/TBNPasswordGenerator.h"

namespace lumvane {

class TBNSettings;

class TBNGeneratorLogic {
  public:
    static constexpr int kMinLength = 4;
    static constexpr int kMaxLength = 64;
    static constexpr int kCustomProfile = 99;
    // The general slider's profiles 0-8, then the custom position.
    static constexpr int kLastProfile = 8;

    // A working copy of what `settings` holds (none: the store's default configuration).
    explicit TBNGeneratorLogic(TBNSettings* settings);

    int32_t profile() const { return profile_; }
    const GeneratorConfigValues& config() const { return config_; }
    int length() const { return config_.lenght.value_or(kMinLength); }
    bool useCapitalization() const { return config_.useCapitalization.value_or(false); }
    bool useDigits() const { return config_.useDigits.value_or(false); }
    bool useSymbols() const { return config_.useSymbols.value_or(false); }
    int capitalization() const { return config_.capitalization.value_or(0); }
    int digits() const { return config_.digits.value_or(0); }
    int symbols() const { return config_.symbols.value_or(0); }

    // Each keeps the value within its control's range.
    void setLength(int length);
    void setUseCapitalization(bool on) { config_.useCapitalization = on; }
    void setUseDigits(bool on) { config_.useDigits = on; }
    void setUseSymbols(bool on) { config_.useSymbols = on; }
    void setCapitalization(int percent);
    // Digits and symbols share 100 percent: raising one lowers the other to fit.
    void setDigits(int percent);
    void setSymbols(int percent);
    // A profile 0-8 takes that profile's configuration; anything above is custom and
    // keeps the working configuration.
    void setGeneralPosition(int position);
    int generalPosition() const;

    // Stores the working copy in the settings.
    void save();
    // Whether the store holds something else (profile, length and the three percentages).
    bool differsFromStored() const;

    // The percentage design: a character class is used exactly when its share is above 0.
    void linkFlagsToPercentages();

    std::string generate() const;
    // 0 (very weak) to 4 (very strong).
    static unsigned strength(const std::string& password);
    static const char* strengthKey(unsigned strength);

  private:
    void applyLink();

    TBNSettings* settings_;
    bool linked_ = false;
    int32_t profile_ = kCustomProfile;
    GeneratorConfigValues config_;
};

}  // namespace lumvane
