// The file keychain's JSON (keychain.json), as any process of the user can leave it:
// each input is the file, then the store is asked for an item, adds one and deletes it.
// A file that reads keeps its items through the change; one that does not is moved
// aside whole, next to the asides of earlier inputs, which stay as they were.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzScratch.h"
#include "platform/keychain/FileKeychain.h"
#include "runtime/log/TBNLogger.h"

namespace {

namespace fs = std::filesystem;
using namespace lumvane;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t asideCount(const fs::path& folder) {
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        n += entry.path().filename().string().find(".unreadable-") != std::string::npos;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path folder = [] {
        TBNLogger::setMaxLevel(kTBNLogLevelOff);
        return fuzz::scratchFolder() / "Lumvane";
    }();
    // Asides pile up within a run like they would over time; start over now and then.
    if (fs::exists(folder) && asideCount(folder) > 64) fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / FileKeychain::kFileName;
    const std::string original(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << original;
    }
    const size_t asidesBefore = asideCount(folder);

    FileKeychain store(folder);
    std::vector<uint8_t> value;
    const KeychainStatus first = store.copyItem("com.tobrin.lumvane.passcode", value);
    if (first != kKeychainSuccess && first != kKeychainItemNotFound) std::abort();
    const size_t asides = asideCount(folder);
    if (asides != asidesBefore && asides != asidesBefore + 1) std::abort();
    const bool movedAside = asides == asidesBefore + 1;
    if (movedAside && fs::exists(file)) std::abort();
    if (!movedAside && readFile(file) != original) std::abort();  // reading changes nothing

    // A change keeps every item the file held.
    const std::vector<uint8_t> added = {0x00, 0xff, 0x10};
    const KeychainStatus add = store.addItem("fuzz-probe", added);
    if (add != kKeychainSuccess && add != kKeychainDuplicateItem) std::abort();
    if (!movedAside && first == kKeychainSuccess) {
        std::vector<uint8_t> again;
        if (store.copyItem("com.tobrin.lumvane.passcode", again) != kKeychainSuccess ||
            again != value)
            std::abort();
    }
    std::vector<uint8_t> probe;
    if (store.copyItem("fuzz-probe", probe) != kKeychainSuccess) std::abort();
    if (add == kKeychainSuccess && probe != added) std::abort();
    if (store.deleteItem("fuzz-probe") != kKeychainSuccess) std::abort();
    if (store.copyItem("fuzz-probe", probe) != kKeychainItemNotFound) std::abort();
    if (asideCount(folder) != asides) std::abort();  // what this store wrote reads back
    return 0;
}
