// Arbitrary bytes as a CSV export: the reader, the loader under a named and a numbered key
// map with filters, and two properties: fields written back with RFC 4180 quoting read the
// same, and unescaping undoes escaping.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/importexport/CSVReader.h"
#include "core/importexport/TBNCSVLoader.h"

using namespace lumvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    for (bool backslashes : {false, true}) {
        auto parsed = CSVReader::read(text, backslashes);
        if (backslashes) continue;
        // Write the lines back and read them again.
        std::string again;
        for (const auto& line : parsed.lines) {
            for (size_t i = 0; i < line.size(); ++i) {
                if (i) again.push_back(',');
                again += csvQuoted(line[i]);
            }
            again.push_back('\n');
        }
        auto reread = CSVReader::read(again);
        // A line of one empty field is written as an empty line, which the reader skips.
        size_t j = 0;
        for (const auto& line : parsed.lines) {
            if (line.size() == 1 && line[0].empty()) continue;
            if (j >= reread.lines.size() || reread.lines[j] != line) std::abort();
            ++j;
        }
        if (j != reread.lines.size() || reread.failed) std::abort();
    }

    if (stringEscapedFromCSV(stringEscapedForCSV(text)) != text) std::abort();
    if (htmlEntitiesDecoded(htmlEntitiesEncoded(text)) != text) std::abort();

    std::optional<TBNCSVLoaderError> error;
    auto named = TBNCSVKeyMap::byName({{"url", "url"},
                                       {"domain", "domain"},
                                       {"login", "login"},
                                       {"password", "password"},
                                       {"notes", "notes"},
                                       {"is_favorited", "fav"}});
    named.htmlEntities = true;
    auto sites = TBNCSVLoader::loadFromText(text, named, {}, &error);
    if (sites.empty() != error.has_value()) std::abort();

    TBNCSVLoaderFilter count;
    count.allowedColumnCount = 5;
    TBNCSVLoaderFilter value;
    value.columnNotContainesValue = {{"1", "place-of-birth"}};
    auto numbered = TBNCSVKeyMap::byColumn(
        {{"url", 1}, {"domain", 0}, {"login", 2}, {"password", 3}, {"notes", 4}});
    numbered.backslashEscapes = size % 2 == 0;
    error.reset();
    sites = TBNCSVLoader::loadFromText(text, numbered, {count, value}, &error);
    for (const auto& site : sites)
        if (!site->domain() || site->domain()->empty() || site->loginData()->empty()) std::abort();
    return 0;
}
