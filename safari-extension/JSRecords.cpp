#include "JSRecords.h"

namespace lumvane {

std::string JSContext::debugDescription() const {
    auto show = [](const OptText& v) { return v ? *v : std::string("nil"); };
    return "tid: " + show(tabId) + ", fid: " + show(frameId) + ", sid: " + show(sessionId) +
           ", src: " + show(source) + ", dst: " + show(destination) + ", url: " + show(url);
}

}  // namespace lumvane
