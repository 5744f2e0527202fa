// Every reply the desktop reads from the phone: the first byte picks the method, the
// rest is the reply as it arrives over the phone link (compact protocol). An export
// answer's payload is decoded as well, bzip2 included.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <thrift/Thrift.h>

#include "idl/protocols.h"
#include "protocol/ProtocolLimits.h"
#include "protocol/services/SiteDataPayload.h"

namespace {

using Client = lumvane::TBNMobileStorageServiceClient;

// The limits the phone link reads with (a bzip2 payload may legitimately unpack to the
// message limit, so no allocation cap applies here).
lumvane::ProtocolLimits fuzzLimits() {
    return lumvane::ProtocolLimits{};
}

void decodePayload(const std::shared_ptr<lumvane::TBNExportSiteDataResponse>& r) {
    if (!r || !r->serializedRecords()) return;
    // A record with lists of sites stands in for the collection: the same readers.
    lumvane::TBNImportSiteDataFromGoogleRequest collection;
    lumvane::deserializeRecords(collection, r->typeSerialize(), *r->serializedRecords(),
                                fuzzLimits());
}

const std::vector<std::function<void(Client&)>>& receivers() {
    static const std::vector<std::function<void(Client&)>> list = {
        [](Client& c) { c.recv_approveClient(); },
        [](Client& c) { c.recv_updateInfo(); },
        [](Client& c) { c.recv_getSitesCache(); },
        [](Client& c) { c.recv_getAccountsCache(); },
        [](Client& c) { c.recv_getBackUp(); },
        [](Client& c) { c.recv_setBackUpResult(); },
        [](Client& c) { c.recv_setBackUp(); },
        [](Client& c) { c.recv_sendPassword(); },
        [](Client& c) { c.recv_loadDataForClipboard(); },
        [](Client& c) { c.recv_getUrlToOpen(); },
        [](Client& c) { c.recv_requestForImportSiteData(); },
        [](Client& c) { c.recv_importSiteData(); },
        [](Client& c) { c.recv_requestForExportSiteData(); },
        [](Client& c) { decodePayload(c.recv_exportSiteData()); },
        [](Client& c) { c.recv_registerYubikey(); },
        [](Client& c) { c.recv_authenticationYubikey(); },
    };
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& list = receivers();
    const auto& receive = list[data[0] % list.size()];
    const lumvane::ProtocolLimits limits = fuzzLimits();
    try {
        auto in = lumvane::makeReadBuffer(data + 1, size - 1, limits);
        Client client(lumvane::makeCompactProtocol(in, limits));
        receive(client);
    } catch (const apache::thrift::TException&) {
        // Refused replies surface as runtime exceptions, which the caller catches.
    }
    return 0;
}
