#pragma once
// Reads the comma-separated exports of password managers (and of this program) into site
// records with their logins. Where each logical value stands is told by a key map, by
// column name (the file has a header line) or by column number (it has none), with
// optional row filters.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "idl/structures.h"

namespace lumvane {

// Largest file the importers read; a bigger one counts as unreadable.
inline constexpr size_t kMaxImportFileSize = size_t{64} << 20;

// Reads a whole file of at most kMaxImportFileSize bytes; nothing when it cannot be read.
std::optional<std::string> readImportFile(const std::filesystem::path& path);

// Logical key -> column. Keys: "url", "domain", "display_name", "login", "password",
// "account", "email", "phone_prefix", "phone", "user_name", "first_name", "last_name",
// "full_name", "company", "applicant_id", "zipcode", "tags", "title", "notes",
// "is_secured", "is_favorited".
struct TBNCSVKeyMap {
    bool byNumber = false;
    std::map<std::string, std::string> columns;  // column names, or decimal numbers
    // Texts of a flag column that set the flag.
    std::set<std::string> trueTexts{"true"};
    // Resolve the "&amp;", "&lt;" and "&gt;" that some exporters put into every value.
    bool htmlEntities = false;
    // The writer escaped backslashes and quotes with a backslash in every value (KeePass
    // 1.x): the reader honours the escapes and every value is unescaped.
    bool backslashEscapes = false;

    static TBNCSVKeyMap byName(std::initializer_list<std::pair<const std::string, std::string>> m);
    static TBNCSVKeyMap byColumn(std::initializer_list<std::pair<std::string, int>> m);
};

// One row filter; a row is kept only when it passes every condition that is set.
struct TBNCSVLoaderFilter {
    std::optional<size_t> allowedColumnCount;  // "TBNCSVLoaderFilterKeyAllowedColumnCount"
    std::optional<size_t> deniedColumnCount;   // "TBNCSVLoaderFilterKeyDeniedColumnCount"
    // "TBNCSVLoaderFilterKeyColumnContainesValue": {column name or number, text}
    std::optional<std::pair<std::string, std::string>> columnContainesValue;
    // "TBNCSVLoaderFilterKeyColumnNotContainesValue"
    std::optional<std::pair<std::string, std::string>> columnNotContainesValue;
};

struct TBNCSVLoaderError {
    static constexpr const char* kDomain = "TBNCSVLoaderErrorDomain";
    int code = 0;
    std::string message;
    const std::string& localizedDescription() const { return message; }
};

using TBNSiteList = std::vector<std::shared_ptr<TBNSiteData>>;

// How the lines of a file fitted the key map.
struct TBNCSVLoadStats {
    // Data lines that no filter dropped (the header line is not one).
    size_t rows = 0;
    // Of those, lines without the columns the map needs for a login: another field count
    // than the header's, or no url/domain, login and password columns by number.
    size_t misshapenRows = 0;
};

class TBNCSVLoader {
  public:
    static TBNSiteList loadFromFile(const std::filesystem::path& path, const TBNCSVKeyMap& keys,
                                    std::optional<TBNCSVLoaderError>* error);
    static TBNSiteList loadFromFile(const std::filesystem::path& path, const TBNCSVKeyMap& keys,
                                    const std::vector<TBNCSVLoaderFilter>& filters,
                                    std::optional<TBNCSVLoaderError>* error);
    // The same over text already in memory (the fuzz target and the benchmark use it).
    static TBNSiteList loadFromText(std::string_view text, const TBNCSVKeyMap& keys,
                                    const std::vector<TBNCSVLoaderFilter>& filters,
                                    std::optional<TBNCSVLoaderError>* error,
                                    TBNCSVLoadStats* stats = nullptr);
};

// Whether the bytes can be a text file: no NUL byte, and control characters other than
// tab, line breaks and form feed in at most one byte of a hundred (a binary file has one
// in ten). Any 8-bit encoding passes; UTF-16 does not.
bool looksLikeText(std::string_view bytes);

// Whether a text reads as a web address at all (no whitespace or control characters);
// such an address may still have no host.
bool parsesAsWebAddress(std::string_view text);

// Free text in the CSV files: backslash, double quote, single quote, LF, CR, FF and TAB
// become two-character escapes ("\\", "\"", "\'", "\n", "\r", "\f", "\t").
std::string stringEscapedForCSV(std::string_view text);
// The inverse, in one left-to-right pass: each backslash escapes the character after it,
// so "\\n" gives backslash-n. A backslash before any other character, or at the end, is
// kept as it stands.
std::string stringEscapedFromCSV(std::string_view text);

// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;", and the inverse in one pass.
std::string htmlEntitiesEncoded(std::string_view text);
std::string htmlEntitiesDecoded(std::string_view text);

}  // namespace lumvane
