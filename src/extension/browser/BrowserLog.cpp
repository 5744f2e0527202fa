#include "extension/browser/BrowserLog.h"

namespace lumvane::browserlog {

void write(Level level, const std::string& line) {
    // Until the tagged logger is wired in, errors and warnings go to standard error.
    if (level == Level::Error || level == Level::Warning) {
        std::fprintf(stderr, "[core|browser] %s\n", line.c_str());
    }
}

}  // namespace lumvane::browserlog
