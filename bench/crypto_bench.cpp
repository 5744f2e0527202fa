// Speed of the sealed blobs, AES, the password generator and the strength meter.
#include <benchmark/benchmark.h>

#include <string>

#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptThrift.h"
#include "crypto/TBNPasswordGenerator.h"

using namespace lumvane;

namespace {

const Bytes& key() {
    static const Bytes k = TBNCryptAES::generateKey();
    return k;
}

void BM_BlobEncrypt(benchmark::State& state) {
    const Bytes data(static_cast<size_t>(state.range(0)), 0x42);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TBNCryptThrift::encryptData(data, key()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BlobEncrypt)->Arg(1 << 10)->Arg(1 << 20);

void BM_BlobDecrypt(benchmark::State& state) {
    const Bytes cipher =
        TBNCryptThrift::encryptData(Bytes(static_cast<size_t>(state.range(0)), 0x42), key());
    for (auto _ : state) {
        benchmark::DoNotOptimize(TBNCryptThrift::decryptData(cipher, key()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BlobDecrypt)->Arg(1 << 10)->Arg(1 << 20);

void BM_AesEncrypt(benchmark::State& state) {
    const Bytes data(static_cast<size_t>(state.range(0)), 0x42);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TBNCryptAES::encryptData(data, key()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AesEncrypt)->Arg(1 << 10)->Arg(1 << 20);

const TBNPasswordGenerator& generator() {
    static TBNPasswordGenerator gen(TBNPasswordGenerator::buildTreeWordListPath());
    return gen;
}

void BM_GeneratePassword(benchmark::State& state) {
    GeneratorConfigValues config;
    config.lenght = static_cast<int16_t>(state.range(0));
    config.useCapitalization = true;
    config.useDigits = true;
    config.useSymbols = true;
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator().generateByConfig(config));
    }
}
BENCHMARK(BM_GeneratePassword)->Arg(8)->Arg(20)->Arg(64);

void BM_GeneratePasswordOlderForm(benchmark::State& state) {
    auto config = *TBNPasswordGenerator::configByProfile(8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator().generateByConfigOld(config));
    }
}
BENCHMARK(BM_GeneratePasswordOlderForm);

void BM_StrengthTypical(benchmark::State& state) {
    const std::string passwords[] = {"qW1eR#tY5uIzPaSdFk", "password1", "Tr0ub4dor&3",
                                     "correcthorsebatterystaple"};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator().strengthPassword(passwords[i++ % 4]));
    }
}
BENCHMARK(BM_StrengthTypical);

void BM_Strength8KiBSameCharacter(benchmark::State& state) {
    const std::string input(8192, 'a');
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator().strengthPassword(input));
    }
}
BENCHMARK(BM_Strength8KiBSameCharacter)->Unit(benchmark::kMillisecond);

void BM_Strength8KiBVaried(benchmark::State& state) {
    std::string input;
    for (int i = 0; i < 8192; ++i) {
        input += static_cast<char>(33 + (i * 7) % 94);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator().strengthPassword(input));
    }
}
BENCHMARK(BM_Strength8KiBVaried)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
