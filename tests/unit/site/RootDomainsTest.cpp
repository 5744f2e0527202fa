#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <latch>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "protocol/site/HostPath.h"
#include "protocol/site/TBNRootDomains.h"

namespace lumvane {
namespace {

std::size_t labelCount(const std::string& key) {
    return static_cast<std::size_t>(std::count(key.begin(), key.end(), '.')) + 1;
}

TEST(TBNRootDomains, IsOneSharedTable) {
    const RootDomainTable* first = TBNRootDomains();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(TBNRootDomains(), first);
}

TEST(TBNRootDomains, HoldsTheAgreedKeysByLabelCount) {
    const RootDomainTable& table = *TBNRootDomains();
    EXPECT_EQ(table.size(), 1758u);
    std::map<std::size_t, std::size_t> byLabels;
    for (const auto& [key, value] : table) {
        EXPECT_TRUE(value) << key;
        ++byLabels[labelCount(key)];
    }
    EXPECT_EQ(byLabels, (std::map<std::size_t, std::size_t>{{1, 139}, {2, 1609}, {3, 10}}));
}

TEST(TBNRootDomains, KeysAreLowerCaseNamesOfTwoTo28Characters) {
    for (const auto& [key, value] : *TBNRootDomains()) {
        EXPECT_GE(key.size(), 2u) << key;
        EXPECT_LE(key.size(), 28u) << key;
        EXPECT_TRUE(std::all_of(key.begin(), key.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        })) << key;
        EXPECT_NE(key.front(), '.') << key;
        EXPECT_NE(key.back(), '.') << key;
        EXPECT_EQ(key.find(".."), std::string::npos) << key;
    }
}

TEST(TBNRootDomains, OneLabelKeysAreExactlyTheLastLabelsOfLongerKeys) {
    std::set<std::string> oneLabel;
    std::set<std::string> lastLabels;
    for (const auto& [key, value] : *TBNRootDomains()) {
        std::size_t dot = key.rfind('.');
        if (dot == std::string::npos) {
            oneLabel.insert(key);
        } else {
            lastLabels.insert(key.substr(dot + 1));
        }
    }
    EXPECT_EQ(oneLabel, lastLabels);
}

TEST(TBNRootDomains, BelizeHoldsExactlyItsFiveTwoLetterZones) {
    std::set<std::string> underBz;
    for (const auto& [key, value] : *TBNRootDomains()) {
        if (key.size() > 3 && key.ends_with(".bz")) {
            underBz.insert(key);
        }
    }
    EXPECT_EQ(underBz, (std::set<std::string>{"om.bz", "du.bz", "ov.bz", "et.bz", "rg.bz"}));
    EXPECT_TRUE(TBNRootDomains()->contains("bz"));
    for (const char* longForm : {"com.bz", "edu.bz", "gov.bz", "net.bz", "org.bz"}) {
        EXPECT_FALSE(TBNRootDomains()->contains(longForm)) << longForm;
    }
}

TEST(TBNRootDomains, LookupIsExact) {
    const RootDomainTable& table = *TBNRootDomains();
    for (const char* key : {"co.uk", "uk", "school.za", "kzn.school.za", "om.bz", "2000.hu",
                            "national-library-scotland.uk", "war.net.id"}) {
        EXPECT_TRUE(table.contains(key)) << key;
    }
    for (const char* notKey : {"CO.UK", "Co.uk", "co.uk.", ".co.uk", "co.uk ", "uk.co", ""}) {
        EXPECT_FALSE(table.contains(notKey)) << notKey;
    }
}

TEST(TBNRootDomains, CompanyKeysAreTwoLabelNamesUnderComEduAndZa) {
    // Eight keys sit outside the country and zone structure: six under "com", one under
    // "edu", one under "za". Every other two-label key under "com" or "edu" would be a
    // country-code pattern ("com.xx"), so any key ending in ".com"/".edu" is one of ours.
    std::map<std::string, std::size_t> companyKeys;
    for (const auto& [key, value] : *TBNRootDomains()) {
        if (labelCount(key) == 2 && (key.ends_with(".com") || key.ends_with(".edu"))) {
            ++companyKeys[key.substr(key.rfind('.') + 1)];
        }
    }
    EXPECT_EQ(companyKeys, (std::map<std::string, std::size_t>{{"com", 6}, {"edu", 1}}));
    EXPECT_TRUE(TBNRootDomains()->contains("nic.za"));
}

TEST(TBNRootDomains, ConcurrentFirstUseBuildsOneTable) {
    // The check runs in a fresh process so that the table is really built by the racing
    // threads, not by an earlier test.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            constexpr int kThreads = 16;
            std::latch start(kThreads);
            std::vector<const RootDomainTable*> seen(kThreads);
            std::vector<std::string> sites(kThreads);
            std::vector<std::thread> threads;
            for (int i = 0; i < kThreads; ++i) {
                threads.emplace_back([&, i] {
                    start.arrive_and_wait();
                    if (i % 2 == 0) {
                        sites[i] = siteDomainName("https://a.b.kzn.school.za/").value_or("");
                    }
                    seen[i] = TBNRootDomains();
                });
            }
            for (auto& t : threads) {
                t.join();
            }
            bool ok = seen[0] != nullptr && seen[0]->size() == 1758;
            for (int i = 0; i < kThreads; ++i) {
                ok = ok && seen[i] == seen[0];
                ok = ok && (i % 2 != 0 || sites[i] == "b.kzn.school.za");
            }
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace lumvane
