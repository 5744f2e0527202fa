#pragma once
// A phone that keeps a vault in memory and moves it through the same payload codec as the
// real transfer, a temporary folder, and a way to wait for the service's last callback.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "core/importexport/ImportExportService.h"
#include "core/importexport/ImportPayload.h"
#include "protocol/TBNErrors.h"

namespace lumvane::importtest {

namespace fs = std::filesystem;

inline std::string fixture(const std::string& name) {
    return std::string(LUMVANE_IMPORT_FIXTURES) + "/" + name;
}

inline std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeText(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/lumvane-import-XXXXXX";
        if (::mkdtemp(pattern)) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// The phone side of the transfers.
class FakePhone : public ImportExportPhone {
  public:
    enum class Mode { Accept, RefuseRequest, FailCall, DropCallbacks };
    Mode mode = Mode::Accept;
    int32_t exportTypeSerialize = -1;  // -1: what the import payload chooses
    bool deliverHole = false;          // the export hands over a list with a null site

    // The vault; imports land here too, after a trip through the payload bytes.
    TBNSiteDataList vault;
    TBNU2FDataList vaultKeys;

    // What the last import request carried.
    std::string sourceName, sourceDetail;
    int32_t recordCount = -1;
    int32_t importTypeSerialize = -1;
    int imports = 0, exports = 0, cancels = 0;

    void importRecords(TBNSiteDataList sites, std::shared_ptr<TBNU2FDataList> u2f, std::string name,
                       std::string detail, Answer approved, Answer completion) override {
        ++imports;
        sourceName = name;
        sourceDetail = detail;
        recordCount = importRecordCount(sites);
        if (mode == Mode::DropCallbacks) return;
        if (mode == Mode::RefuseRequest) {
            approved(error("User refused import"));
            return;
        }
        approved(nullptr);
        if (mode == Mode::FailCall) {
            completion(error("Storage full"));
            return;
        }
        auto payload = importPayload(*importCollection(sites, u2f));
        importTypeSerialize = payload.typeSerialize;
        auto received = recordsFromExportPayload(payload.typeSerialize, payload.bytes);
        vault = received->records() ? *received->records() : TBNSiteDataList{};
        vaultKeys = received->u2fRecords() ? *received->u2fRecords() : TBNU2FDataList{};
        completion(nullptr);
    }
    void cancelImport() override { ++cancels; }

    void exportRecordsTo(std::string, std::string detail, Answer approved,
                         ExportDone completion) override {
        ++exports;
        sourceDetail = detail;
        if (mode == Mode::DropCallbacks) return;
        if (mode == Mode::RefuseRequest) {
            approved(error("User refused export"));
            return;
        }
        approved(nullptr);
        if (mode == Mode::FailCall) {
            completion(nullptr, nullptr, error("Vault locked"));
            return;
        }
        auto vaultCopy = std::make_shared<TBNU2FDataList>(vaultKeys);
        auto payload = importPayload(*importCollection(vault, vaultCopy));
        if (exportTypeSerialize >= 0) payload.typeSerialize = exportTypeSerialize;
        auto received = recordsFromExportPayload(payload.typeSerialize, payload.bytes);
        auto records =
            received->records() ? received->records() : std::make_shared<TBNSiteDataList>();
        if (deliverHole) records->push_back(nullptr);
        completion(records, received->u2fRecords(), nullptr);
    }
    void cancelExport() override { ++cancels; }

    static TBNErrorPtr error(const std::string& text) {
        auto e = std::make_shared<TBNError>();
        e->setCategory(2);
        e->setId(3);
        e->setDebugMessage(text);
        return e;
    }
};

// Records the callbacks of one transfer, in order.
struct CallbackLog {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> events;  // "start", "approved:<text|nil>", "completion:<text|nil>"
    int completions = 0;

    ImportExportService::Callback approved() {
        return
            [this](ImportExportService::Message m) { add("approved:" + m.value_or("nil"), false); };
    }
    ImportExportService::Started started() {
        return [this] { add("start", false); };
    }
    ImportExportService::Callback completion() {
        return [this](ImportExportService::Message m) {
            add("completion:" + m.value_or("nil"), true);
        };
    }
    void add(std::string e, bool done) {
        std::lock_guard<std::mutex> g(mutex);
        events.push_back(std::move(e));
        if (done) ++completions;
        cv.notify_all();
    }
    // Real-time synchronisation point with the service's queue.
    bool waitDone(std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lk(mutex);
        return cv.wait_for(lk, limit, [&] { return completions > 0; });
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> g(mutex);
        return events;
    }
};

inline std::shared_ptr<ImportExportService> makeService(
    std::shared_ptr<FakePhone> phone, bool paired = true, TBNWaitManager* waits = nullptr,
    std::function<bool(const std::string&)> chrome = nullptr) {
    ImportExportService::Options o;
    o.phone = phone;
    o.hasPairedDevice = [paired] { return paired; };
    o.queue = DispatchQueue::create("import-test");
    o.waits = waits;
    o.openInChrome = chrome ? chrome : [](const std::string&) { return true; };
    return ImportExportService::create(o);
}

// Runs one import to its end and returns the callbacks in order.
inline std::vector<std::string> runImport(ImportExportService& service, TBNImportSource source,
                                          const fs::path& file) {
    CallbackLog log;
    service.importWithSourceType(static_cast<int32_t>(source), file, log.approved(), log.started(),
                                 log.completion());
    EXPECT_TRUE(log.waitDone());
    return log.snapshot();
}

inline std::vector<std::string> runExport(ImportExportService& service, int32_t destination,
                                          const fs::path& file) {
    CallbackLog log;
    service.exportWithDestinationType(destination, file, log.approved(), log.started(),
                                      log.completion());
    EXPECT_TRUE(log.waitDone());
    return log.snapshot();
}

using Events = std::vector<std::string>;
inline const Events kImportSucceeded{"start", "approved:nil", "completion:nil"};
inline const Events kExportSucceeded{"approved:nil", "start", "completion:nil"};

}  // namespace lumvane::importtest
