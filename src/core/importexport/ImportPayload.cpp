#include "core/importexport/ImportPayload.h"

#include <limits>

namespace lumvane {

int32_t importRecordCount(const TBNSiteDataList& sites) {
    int64_t count = 0;
    for (const auto& site : sites)
        if (site && site->loginData()) count += static_cast<int64_t>(site->loginData()->size());
    return static_cast<int32_t>(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
}

std::shared_ptr<TBNSiteDataCollection> importCollection(
    const TBNSiteDataList& sites, const std::shared_ptr<TBNU2FDataList>& u2fRecords) {
    auto records = std::make_shared<TBNSiteDataList>(sites);
    for (const auto& site : *records) {
        if (!site || !site->loginData()) continue;
        for (const auto& login : *site->loginData())
            if (login && !login->login()) login->setLogin(std::string());
    }
    auto u2f = std::make_shared<TBNU2FDataList>(u2fRecords ? *u2fRecords : TBNU2FDataList{});
    auto collection = std::make_shared<TBNSiteDataCollection>(records, 0, nullptr, u2f);
    collection->unsetAudits();
    return collection;
}

SerializedRecords importPayload(const TBNSiteDataCollection& collection) {
    return serializeRecords(collection, true);
}

std::shared_ptr<TBNSiteDataCollection> recordsFromExportPayload(int32_t typeSerialize,
                                                                const Bytes& bytes) {
    auto collection = std::make_shared<TBNSiteDataCollection>();
    deserializeRecords(*collection, typeSerialize, bytes);
    return collection;
}

}  // namespace lumvane
