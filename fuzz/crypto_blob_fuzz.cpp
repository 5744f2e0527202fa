// Arbitrary bytes through every reader of sealed and serialised records: as a
// ciphertext, as a plaintext that passes AES (so the record reader sees it), as a
// blob payload, and as compact and bzip2 compact data.
#include <thrift/Thrift.h>

#include <cstddef>
#include <cstdint>
#include <exception>

#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptThrift.h"
#include "idl/database.h"
#include "idl/settings.h"

using namespace lumvane;

namespace {

const Bytes kKey(32, 0x5a);

template <class F>
void guarded(F f) {
    try {
        f();
    } catch (const TBNCryptThriftException&) {
    } catch (const apache::thrift::TException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0] % 6;
    const ByteView input(data + 1, size - 1);
    switch (mode) {
        case 0:
            guarded([&] { TBNCryptThrift::decryptData(input, kKey); });
            break;
        case 1: {
            // Make the bytes the plaintext, so the blob reader gets arbitrary records.
            const Bytes cipher = TBNCryptAES::encryptData(input, kKey);
            guarded([&] {
                auto payload = TBNCryptThrift::decryptData(cipher, kKey);
                if (payload) {
                    TBNSiteDataCollection collection;
                    TBNCryptThrift::deserializeObject(collection, *payload);
                }
            });
            guarded([&] {
                TBNIOSSettings settings;
                TBNCryptThrift::decryptObject(settings, cipher, kKey);
            });
            break;
        }
        case 2:
            guarded([&] {
                TBNEncryptedBlob blob(1, Bytes(input.begin(), input.end()));
                TBNIOSEncryptedSettings settings;
                TBNCryptThrift::getObject(settings, blob);
            });
            break;
        case 3:
            guarded([&] {
                TBNSiteDataCollection collection;
                TBNCryptThrift::deserializeObject(collection, input);
                // What was read must write and read back the same.
                const Bytes again = TBNCryptThrift::serializeObject(collection);
                TBNSiteDataCollection reread;
                TBNCryptThrift::deserializeObject(reread, again);
                if (!(reread == collection)) {
                    __builtin_trap();
                }
            });
            break;
        case 4:
            guarded([&] {
                TBNSiteDataCollection collection;
                TBNCryptThrift::deserializeObjectFromBZipData(collection, input);
            });
            break;
        default:
            guarded([&] {
                TBNEncryptedBlobV2 blob(1, 2, Bytes(input.begin(), input.end()));
                if (TBNCryptThrift::decompressBlobV2(blob) &&
                    blob.blob()->size() > (size_t{256} << 20)) {
                    __builtin_trap();
                }
            });
            break;
    }
    return 0;
}
