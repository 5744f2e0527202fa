// The Safari extension's own settings file (config.ejson) as the extension reads it when
// made: AES under the settings key, then JSON, then the settings record. The first byte
// picks whether the rest is the file (0) or the plain text that gets sealed under the
// key first (1). Whatever the file, the settings come out (the defaults when it does not
// read), and what the extension writes back reads as the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Config.h"
#include "FuzzScratch.h"
#include "crypto/TBNCryptAES.h"

namespace {

namespace fs = std::filesystem;
using namespace lumvane;

const Bytes kKey(32, 0x42);

ConfigEnvironment environment() {
    static const fs::path dir = fuzz::scratchFolder() / "Safari";
    fs::create_directories(dir);
    ConfigEnvironment env;
    env.applicationSupportDirectory = []() -> std::optional<std::string> { return dir.string(); };
    env.settingsKey = []() -> std::optional<Bytes> { return kKey; };
    return env;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const ConfigEnvironment env = environment();
    const fs::path file = fs::path(*env.applicationSupportDirectory()) / Config::kFileName;
    Bytes bytes(data + 1, data + size);
    if (data[0] & 1) bytes = TBNCryptAES::encryptData(bytes, kKey);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::optional<JSDictionary> loaded;
    {
        Config config(env);
        loaded = config.storeConfig().dictionary();
        if (!loaded) std::abort();  // settings that were read can be written
        config.save();
    }
    Config again(env);
    if (again.storeConfig().dictionary() != loaded) std::abort();
    return 0;
}
