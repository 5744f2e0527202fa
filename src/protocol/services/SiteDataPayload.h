#pragma once
// The payload of the import and export messages: a record collection written with the
// compact protocol (`typeSerialize` 0) or those bytes compressed with bzip2 (1). Works on
// any generated record, so it serves the site-data collection and tests alike.
#include <cstddef>
#include <cstdint>
#include <optional>

#include <thrift/TBase.h>

#include "protocol/ProtocolLimits.h"
#include "runtime/Bytes.h"

namespace lumvane {

struct SerializedRecords {
    int32_t typeSerialize = 0;
    Bytes bytes;
};

// bzip2 at block size 9 and the default work factor; nothing when the library fails.
std::optional<Bytes> bzip2Compress(const Bytes& input);
// Decompresses one bzip2 stream. Throws TProtocolException: SIZE_LIMIT when the output
// would exceed maxOutput bytes (checked as it grows, before allocating more), INVALID_DATA
// for a damaged or truncated stream.
Bytes bzip2Decompress(const Bytes& input, size_t maxOutput);

// The record in the compact protocol.
Bytes compactBytes(const apache::thrift::TBase& record);

// What the import sends: the compact bytes compressed (type 1); should compression give
// nothing, the uncompressed bytes (type 0). compress = false always gives type 0.
SerializedRecords serializeRecords(const apache::thrift::TBase& record, bool compress = true);

// Fills `into` from a payload by its type: 0 compact, 1 bzip2 first, any other value
// leaves the record as it is. Throws TProtocolException / TTransportException for a
// payload that cannot be read; what was read before the failure stays in `into`. The
// decompressed size is held to limits.maxMessageSize.
void deserializeRecords(apache::thrift::TBase& into, int32_t typeSerialize, const Bytes& data,
                        const ProtocolLimits& limits = {});

}  // namespace lumvane
