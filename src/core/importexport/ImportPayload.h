#pragma once
// The record collection that carries logins to and from the phone, and its payload form
// (compact protocol, bzip2-compressed when compression works).
#include <memory>

#include "core/importexport/ImportExportPhone.h"
#include "idl/database.h"
#include "protocol/services/SiteDataPayload.h"

namespace lumvane {

// The number of logins summed over the sites (recordCount of the import request),
// saturated at INT32_MAX.
int32_t importRecordCount(const TBNSiteDataList& sites);

// A collection of the sites (logins without a login name get ""), update time stamp 0,
// no audits, and the security-key records (an empty list when none).
std::shared_ptr<TBNSiteDataCollection> importCollection(
    const TBNSiteDataList& sites, const std::shared_ptr<TBNU2FDataList>& u2fRecords);

// typeSerialize 1 with the bzip2 bytes, or 0 with the plain compact bytes should
// compression give nothing.
SerializedRecords importPayload(const TBNSiteDataCollection& collection);

// The collection of an export answer: 0 compact, 1 bzip2 first, any other type gives an
// empty collection. Throws the protocol's exceptions for bytes that cannot be read.
std::shared_ptr<TBNSiteDataCollection> recordsFromExportPayload(int32_t typeSerialize,
                                                                const Bytes& bytes);

}  // namespace lumvane
