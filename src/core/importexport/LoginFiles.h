#pragma once
// The file formats of import and export that are not CSV loading: this program's own JSON
// (read and written), the Dashlane JSON export (read), this program's own CSV and the
// LastPass CSV (written), and the atomic file write behind every export.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/importexport/ImportExportPhone.h"

namespace lumvane {

struct LumvaneJsonContent {
    TBNSiteDataList sites;
    std::shared_ptr<TBNU2FDataList> u2fRecords = std::make_shared<TBNU2FDataList>();
};

// Nothing when the text is not JSON or its top level is not an array ("Invalid file
// format"). Elements that are not objects are skipped.
std::optional<LumvaneJsonContent> readLumvaneJson(std::string_view text);
// Nothing when the text is not JSON or not an object; an empty list when "AUTHENTIFIANT"
// is missing or not an array.
std::optional<TBNSiteDataList> readDashlaneJson(std::string_view text);

// The own JSON file: one object per login, then one per security-key record, pretty-
// printed. Throws nlohmann::json's type_error for text that is not UTF-8.
std::string lumvaneJsonText(const TBNSiteDataList& sites, const TBNU2FDataList& u2fRecords);
// Header "domain,display_name,...,url,notes" and one line per login; values quoted as RFC
// 4180 asks when they need it, notes escaped with stringEscapedForCSV first.
std::string lumvaneCsvText(const TBNSiteDataList& sites);
// Header "url,username,password,extra,name,grouping,fav"; every value quoted, inner
// quotes doubled, "&", "<" and ">" written as entities the way LastPass writes them.
std::string lastpassCsvText(const TBNSiteDataList& sites);

// Writes the bytes to a temporary file beside `path` (mode 0600), forces them to disk and
// renames it over `path`. Nothing on success, else a message that names the failure; a
// failed write leaves `path` as it was.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes);

// The site rule of the JSON readers: places one login by its address text and name text,
// creating the site on first use (kept in `order`).
std::shared_ptr<TBNSiteData> siteForLogin(
    const std::string& url, const std::string& name, const std::optional<std::string>& displayName,
    std::map<std::string, std::shared_ptr<TBNSiteData>>& byDomain, TBNSiteDataList& order);

}  // namespace lumvane
