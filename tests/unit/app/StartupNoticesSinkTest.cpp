// The start-up texts reach the desktop's sink once each, those said before it was set too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StartupNotices.h"

namespace lumvane {
namespace {

TEST(StartupNoticeSink, EveryStartUpTextReachesTheSinkOnceEarlierOnesIncluded) {
    sayToUserOnce("sink-test-early", "said before the desktop was up");
    sayToUserOnce("sink-test-early", "the same topic again");
    std::vector<std::string> shown;
    setStartupNoticeSink([&shown](const std::string& text) { shown.push_back(text); });
    sayToUserOnce("sink-test-late", "said afterwards");
    sayToUserOnce("sink-test-late", "the same topic again");
    setStartupNoticeSink(nullptr);
    sayToUserOnce("sink-test-after", "said after the sink went");
    std::vector<std::string> mine;
    for (const auto& text : shown) {
        if (text.find("said") != std::string::npos || text.find("again") != std::string::npos) {
            mine.push_back(text);
        }
    }
    EXPECT_EQ(mine,
              (std::vector<std::string>{"said before the desktop was up", "said afterwards"}));
}

}  // namespace
}  // namespace lumvane
