#include "ui/GeneratorLogic.h"

#include <algorithm>

#include "idl/settings.h"
#include "settings/TBNSettings.h"

namespace lumvane {

namespace {

int clampPercent(int value) {
    return std::clamp(value, 0, 100);
}

struct Stored {
    int32_t profile = 0;
    GeneratorConfigValues config;
};

Stored stored(TBNSettings* settings) {
    Stored s;
    auto g = settings ? settings->generatorSettings() : nullptr;
    if (g && g->config()) {
        s.profile = g->profile();
        s.config = configValuesOf(*g->config());
    } else {
        // What the settings store gives a generator without configuration.
        s.profile = TBNGeneratorLogic::kCustomProfile;
        s.config.lenght = 20;
        s.config.digits = 30;
        s.config.symbols = 0;
        s.config.readability = 0;
        s.config.capitalization = 50;
        s.config.useDigits = true;
        s.config.useSymbols = false;
        s.config.useCapitalization = true;
    }
    return s;
}

}  // namespace

TBNGeneratorLogic::TBNGeneratorLogic(TBNSettings* settings) : settings_(settings) {
    Stored s = stored(settings_);
    profile_ = s.profile;
    config_ = s.config;
    // A stored value outside the controls' ranges is brought into them.
    setLength(length());
    setCapitalization(capitalization());
    setDigits(digits());
}

void TBNGeneratorLogic::linkFlagsToPercentages() {
    linked_ = true;
    applyLink();
}

void TBNGeneratorLogic::applyLink() {
    if (!linked_) return;
    config_.useCapitalization = capitalization() > 0;
    config_.useDigits = digits() > 0;
    config_.useSymbols = symbols() > 0;
}

void TBNGeneratorLogic::setLength(int length) {
    config_.lenght = static_cast<int16_t>(std::clamp(length, kMinLength, kMaxLength));
}

void TBNGeneratorLogic::setCapitalization(int percent) {
    config_.capitalization = static_cast<int16_t>(clampPercent(percent));
    applyLink();
}

void TBNGeneratorLogic::setDigits(int percent) {
    const int d = clampPercent(percent);
    config_.digits = static_cast<int16_t>(d);
    if (d + symbols() > 100) config_.symbols = static_cast<int16_t>(100 - d);
    applyLink();
}

void TBNGeneratorLogic::setSymbols(int percent) {
    const int s = clampPercent(percent);
    config_.symbols = static_cast<int16_t>(s);
    if (s + digits() > 100) config_.digits = static_cast<int16_t>(100 - s);
    applyLink();
}

void TBNGeneratorLogic::setGeneralPosition(int position) {
    if (position >= 0 && position <= kLastProfile) {
        if (auto config = TBNPasswordGenerator::configByProfile(position)) {
            profile_ = position;
            config_ = *config;
            applyLink();
            return;
        }
    }
    profile_ = kCustomProfile;
}

int TBNGeneratorLogic::generalPosition() const {
    return profile_ >= 0 && profile_ <= kLastProfile ? profile_ : kLastProfile + 1;
}

void TBNGeneratorLogic::save() {
    if (!settings_) return;
    auto config = std::make_shared<TBNGeneratorConfig>();
    config->setLenght(static_cast<int16_t>(length()));
    config->setDigits(static_cast<int16_t>(digits()));
    config->setSymbols(static_cast<int16_t>(symbols()));
    config->setReadability(config_.readability.value_or(0));
    config->setCapitalization(static_cast<int16_t>(capitalization()));
    config->setUseDigits(useDigits());
    config->setUseSymbols(useSymbols());
    config->setUseCapitalization(useCapitalization());
    auto generator = std::make_shared<TBNGeneratorSettings>();
    generator->setProfile(profile_);
    generator->setConfig(config);
    settings_->setGeneratorSettings(generator);
}

bool TBNGeneratorLogic::differsFromStored() const {
    Stored s = stored(settings_);
    return s.profile != profile_ || s.config.lenght != config_.lenght ||
           s.config.digits != config_.digits || s.config.symbols != config_.symbols ||
           s.config.capitalization != config_.capitalization;
}

std::string TBNGeneratorLogic::generate() const {
    try {
        return TBNPasswordGenerator::sharedGenerator().generateByConfig(config_);
    } catch (const std::exception&) {
        return {};
    }
}

unsigned TBNGeneratorLogic::strength(const std::string& password) {
    return TBNPasswordGenerator::sharedGenerator().strengthPassword(password);
}

const char* TBNGeneratorLogic::strengthKey(unsigned strength) {
    switch (strength) {
        case 0:
            return "PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_VERYWEAK";
        case 1:
            return "PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_WEAK";
        case 2:
            return "PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_GOOD";
        case 3:
            return "PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_STRONG";
        case 4:
            return "PASSWORD_GENERATOR_VC_PASSWORD_STRENGTH_VERYSTRONG";
    }
    return nullptr;
}

}  // namespace lumvane
