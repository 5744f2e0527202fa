// The settings file as the program starts from it: the file's blob, both sealed parts,
// the two settings records and the upgrade, through the start-up's own loading steps
// (the key, the old fixed key, moving the file aside). Anyone who can write the file can
// craft its plain part, so every input must end in a loaded store, with either the file
// taken (a second store then reads back exactly the records the first one wrote) or the
// file moved aside whole under one new name.
//
// The first byte picks how the rest becomes the file:
//   0  the bytes are the file;
//   1  [u16 LE n][n bytes of the plain record][the encrypted record], each sealed as the
//      program seals it, the encrypted part under the key;
//   2  the same with the encrypted part under the old fixed key;
//   3  the plain record sealed, the rest as the encrypted part's raw (unsealed) bytes.
// Allocations are capped by the test command: nothing may be sized by what the file
// announces rather than by what it holds.
#include <thrift/TConfiguration.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "FuzzScratch.h"
#include "app/StartupSteps.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptThrift.h"
#include "idl/settings.h"
#include "runtime/Clock.h"
#include "runtime/Digest.h"
#include "runtime/log/TBNLogger.h"
#include "settings/TBNSettings.h"

namespace {

namespace fs = std::filesystem;
using namespace lumvane;

const Bytes kKey(32, 0x42);

const Bytes& plainKey() {
    static const Bytes key = sha256(std::string_view(TBNSettings::kPlainPartPhrase));
    return key;
}

const Bytes& oldKey() {
    static const Bytes key =
        TBNCryptHash::sha256FromString(std::string(StartupSteps::kOldSettingsKeyPhrase));
    return key;
}

// A part as the store seals it: the record's bytes in a salted blob, under AES.
Bytes sealed(const Bytes& recordBytes, const Bytes& key) {
    auto blob = TBNCryptThrift::createBlobWithData(recordBytes);
    return TBNCryptThrift::encryptObject(*blob, key);
}

Bytes fileOf(const TBNSettingsBlob& blob) {
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
    apache::thrift::protocol::TBinaryProtocol protocol(buffer);
    blob.write(&protocol);
    const std::string bytes = buffer->getBufferAsString();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes fileFor(const uint8_t* data, size_t size) {
    if (size == 0) return {};
    const uint8_t mode = data[0] % 4;
    ++data, --size;
    if (mode == 0) return Bytes(data, data + size);
    size_t n = 0;
    if (size >= 2) {
        n = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
        data += 2, size -= 2;
    }
    const Bytes plainRecord(data, data + n);
    const Bytes rest(data + n, data + size);
    TBNSettingsBlob blob;
    blob.setSettings(sealed(plainRecord, plainKey()));
    if (mode == 1) blob.setEncryptedSettings(sealed(rest, kKey));
    if (mode == 2) blob.setEncryptedSettings(sealed(rest, oldKey()));
    if (mode == 3) blob.setEncryptedSettings(rest);
    return fileOf(blob);
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> asideFiles(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().find(".unreadable-") != std::string::npos)
            found.push_back(entry.path());
    }
    return found;
}

std::shared_ptr<TBNSettings> newStore() {
    static const auto clock = std::make_shared<ManualClock>();
    TBNSettings::Options options;
    options.clock = clock;  // deferred saves wait for waitForPendingSaves()
    options.now = [] { return std::chrono::system_clock::time_point(std::chrono::hours(480000)); };
    options.bundleVersion = "1.0.0.0";
    options.syncWrites = false;
    return TBNSettings::create(options);
}

// Both saved records as the file holds them.
std::pair<Bytes, Bytes> savedRecords(TBNSettings& store) {
    std::pair<Bytes, Bytes> out;
    store.valueFromSettings<int>([&](TBNSettings& s) -> std::optional<int> {
        out.first = TBNCryptThrift::serializeObject(s.osxSettings());
        out.second = TBNCryptThrift::serializeObject(s.osxEncryptedSettings());
        return 0;
    });
    return out;
}

const fs::path& folder() {
    static const fs::path path = [] {
        const fs::path root = fuzz::scratchFolder();
        // The upgrade looks for the documents folder and its backups: keep it in here.
        ::setenv("HOME", (root / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root / "home" / ".config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root / "home" / ".local").c_str(), 1);
        TBNLogger::setMaxLevel(kTBNLogLevelOff);
        return root / "settings";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& dir = folder();
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / TBNSettings::kSettingsFileName;
    const Bytes original = fileFor(data, size);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(original.data()),
                  static_cast<std::streamsize>(original.size()));
    }

    auto store = newStore();
    const int attempt = StartupSteps::loadSettings(*store, file, kKey);
    if (attempt == 0 || !store->isLoaded()) std::abort();
    store->upgrade();
    store->waitForPendingSaves();

    const auto aside = asideFiles(dir);
    if (aside.size() > 1) std::abort();  // one start moves the file aside once
    if (aside.size() == 1 && readFile(aside[0]) != original) std::abort();  // moved whole
    if (attempt == 3 && aside.empty()) std::abort();

    // What the store wrote, a second start reads back as it was.
    const auto written = savedRecords(*store);
    auto again = newStore();
    again->loadBySettingsClass(file);
    again->decryptEncryptedSettingsByKey(kKey);
    again->waitForPendingSaves();
    if (asideFiles(dir).size() != aside.size()) std::abort();
    if (savedRecords(*again) != written) std::abort();
    return 0;
}
