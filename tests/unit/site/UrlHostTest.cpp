#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "protocol/site/UrlHost.h"

namespace lumvane {
namespace {

struct HostCase {
    std::string url;
    std::optional<std::string> host;
    bool ipLiteral = false;
};

TEST(ParseUrlHost, GivesTheHostAsWritten) {
    const HostCase cases[] = {
        {"https://Example.COM./x", "Example.COM."},
        {"HTTP://a.b", "a.b"},
        {"svn+ssh://user@host.example:22/repo", "host.example"},
        {"https://u:p@host:0", "host"},
        {"https://host:notaport/", "host"},
        {"https://a%2eb.example/", "a%2eb.example"},
        {"https://b\xc3\xbc\x63her.de/", "b\xc3\xbc\x63her.de"},
        {"https://[2001:db8::1]:8443/", "2001:db8::1", true},
        {"https://[]/", "", true},
        {"//host.example", "host.example"},
        {"http://", ""},
        {"http://@", ""},
        {"http://:80", ""},
        {"http://?q", ""},
    };
    for (const HostCase& c : cases) {
        std::optional<UrlHost> parsed = parseUrlHost(c.url);
        ASSERT_TRUE(parsed.has_value()) << c.url;
        EXPECT_EQ(parsed->host, *c.host) << c.url;
        EXPECT_EQ(parsed->ipLiteral, c.ipLiteral) << c.url;
    }
}

TEST(ParseUrlHost, ReportsNoHostWhereThereIsNone) {
    for (const std::string& url :
         {"", "example.com", "localhost:8080", "mailto:a@b.example", "urn:isbn:123", "/a/b",
          "http:/one.slash", "http:example.com", "1http://a.b", "ht tp://a.b", "://a.b",
          "https://[::1", "https://[::1]x/", "https://[::1]host:80/"}) {
        EXPECT_FALSE(parseUrlHost(url).has_value()) << url;
    }
}

TEST(ParseUrlHost, RefusesHostsWithSpacesOrControlBytes) {
    for (const std::string& url :
         {std::string("https://a.b\n.c/"), std::string("https://a b.c/"),
          std::string("https://a.b.c\t/"), std::string("https://a.\x7f.c/"),
          std::string("https://a.b.c\0.d/", 17), std::string("https://[::1\r]/")}) {
        EXPECT_FALSE(parseUrlHost(url).has_value()) << url;
    }
    // Odd bytes outside the host do not matter.
    EXPECT_EQ(parseUrlHost("https://us er@a.b/pa th\n")->host, "a.b");
}

}  // namespace
}  // namespace lumvane
