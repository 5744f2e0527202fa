#pragma once
// The site-parser database shipped with the extension ("parserdb.json"): loaded once per
// process; only the description of the host "default" under the empty path is handed
// to page scripts.
#include <map>
#include <optional>
#include <string>

#include "JSRecords.h"

namespace lumvane {

// Where the extension's resources live: the folder set here, else $LUMVANE_SAFARI_RESOURCES,
// else "resources" beside the running program.
class SafariBundle {
  public:
    static void setResourceDirectory(std::optional<std::string> dir);
    // Path of an existing resource "name.ext", nothing when it is not there.
    static std::optional<std::string> pathForResource(const std::string& name,
                                                      const std::string& ext);
};

class Parsers {
  public:
    // The process-wide database, loaded from the bundle on first use.
    static Parsers& shared();

    // Loads the file at `resourcePath`; nothing means the resource is missing.
    explicit Parsers(const std::optional<std::string>& resourcePath);

    const std::optional<std::map<std::string, JSSite>>& sites() const { return sites_; }
    const std::optional<JSParserInfo>& defaultParserInfo() const { return defaultParserInfo_; }

  private:
    std::optional<std::map<std::string, JSSite>> sites_;
    std::optional<JSParserInfo> defaultParserInfo_;
};

}  // namespace lumvane
