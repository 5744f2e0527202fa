// Page messages as the browser hands them over: JSON text parsed into a user-info
// dictionary, its context and every request record decoded, and anything that decodes
// encoded again; a decoded record must survive the round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "JSRecords.h"

namespace {

using lumvane::JSDictionary;

template <class Record>
void roundTrip(const JSDictionary& value) {
    Record record;
    try {
        record = Record::fromDictionary(value);
    } catch (const lumvane::JSDecodingError&) {
        return;
    }
    auto encoded = record.dictionary();
    if (!encoded) return;  // a text without a UTF-8 form
    Record again = Record::fromDictionary(*encoded);
    if (again.dictionary() != encoded) std::abort();
}

void decodeAll(const JSDictionary& v) {
    roundTrip<lumvane::JSContext>(v);
    roundTrip<lumvane::JSPermissionRequest>(v);
    roundTrip<lumvane::JSInitRequest>(v);
    roundTrip<lumvane::JSGetFormsInfoRequest>(v);
    roundTrip<lumvane::JSChooseUserAccountRequest>(v);
    roundTrip<lumvane::JSApplyUserAccountRequest>(v);
    roundTrip<lumvane::JSAccount>(v);
    roundTrip<lumvane::JSSaveLoginFormRequest>(v);
    roundTrip<lumvane::JSLogMessage>(v);
    roundTrip<lumvane::JSActiveInputs>(v);
    roundTrip<lumvane::JSGet2FACodeResponse>(v);
    roundTrip<lumvane::JSParsers>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    auto userInfo = JSDictionary::parse(data, data + size, nullptr, false);
    if (userInfo.is_discarded()) return 0;
    decodeAll(userInfo);
    if (!userInfo.is_object()) return 0;
    if (auto it = userInfo.find("context"); it != userInfo.end()) decodeAll(*it);
    if (auto it = userInfo.find("message"); it != userInfo.end() && it->is_object()) {
        decodeAll(*it);
        if (auto p = it->find("param"); p != it->end()) decodeAll(*p);
        if (auto a = it->find("activeElementInfo"); a != it->end()) decodeAll(*a);
    }
    return 0;
}
