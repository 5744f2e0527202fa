// The CSV loader: lexical rules, key maps and their errors, the site rules, duplicates,
// flags, and the escaping of notes.
#include <gtest/gtest.h>

#include "ImportExportTestSupport.h"
#include "core/importexport/CSVReader.h"
#include "core/importexport/TBNCSVLoader.h"

namespace lumvane::importtest {
namespace {

TBNCSVKeyMap ownKeys() {
    return TBNCSVKeyMap::byName({{"url", "url"},
                                 {"domain", "domain"},
                                 {"login", "login"},
                                 {"password", "password"},
                                 {"notes", "notes"},
                                 {"display_name", "display_name"},
                                 {"is_favorited", "fav"}});
}

TBNSiteList load(const std::string& text, const TBNCSVKeyMap& keys,
                 std::optional<TBNCSVLoaderError>* error = nullptr,
                 const std::vector<TBNCSVLoaderFilter>& filters = {}) {
    std::optional<TBNCSVLoaderError> local;
    return TBNCSVLoader::loadFromText(text, keys, filters, error ? error : &local);
}

TEST(CSVReader, QuotingLineBreaksCommentsAndBom) {
    auto r = CSVReader::read(
        "\xEF\xBB\xBF"
        "a,\"b,1\",\"c \"\"q\"\"\"\r\n"
        "# a comment, not a line\n"
        "\n"
        "\"multi\nline\",=\"0012\",plain\"quote\r"
        "x\\,y,\"ends in \\\",z\n"
        "last,\"old \"style\" quote\"");
    ASSERT_FALSE(r.failed);
    EXPECT_EQ(r.comments, 1u);
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(r.lines[0], (std::vector<std::string>{"a", "b,1", "c \"q\""}));
    EXPECT_EQ(r.lines[1], (std::vector<std::string>{"multi\nline", "0012", "plain\"quote"}));
    // Backslashes are plain characters: a value ending in one keeps its delimiter.
    EXPECT_EQ(r.lines[2], (std::vector<std::string>{"x\\", "y", "ends in \\", "z"}));
    EXPECT_EQ(r.lines[3], (std::vector<std::string>{"last", "old \"style\" quote"}));
}

TEST(CSVReader, OpenQuoteKeepsEarlierLinesOnly) {
    auto r = CSVReader::read("a,b\nc,\"never closed\nd,e\n");
    EXPECT_TRUE(r.failed);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], (std::vector<std::string>{"a", "b"}));
}

TEST(CSVReader, BackslashEscapesModeForKeePassStyleFiles) {
    auto r = CSVReader::read("\"say \\\"hi\\\"\",\"C:\\\\dir\\\\\",next\n", true);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], (std::vector<std::string>{"say \\\"hi\\\"", "C:\\\\dir\\\\", "next"}));
}

TEST(CSVQuoting, QuotesOnlyWhatNeedsIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"#hash", "\"#hash\""},
        {"=\"x\"", "\"=\"\"x\"\"\""},
        {"back\\slash", "back\\slash"},
        // The reader drops one byte-order mark at the start of the text: a value that
        // begins with a mark keeps it only when quoted.
        {"\xEF\xBB\xBF", "\"\xEF\xBB\xBF\""},
        {"\xEF\xBB\xBF\xEF\xBB\xBFx", "\"\xEF\xBB\xBF\xEF\xBB\xBFx\""},
        {"mid\xEF\xBB\xBF", "mid\xEF\xBB\xBF"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(csvQuoted(in), out) << in;
        // And the reader gives the value back.
        auto r = CSVReader::read(csvQuoted(in) + ",end\n");
        ASSERT_EQ(r.lines.size(), 1u) << in;
        EXPECT_EQ(r.lines[0][0], in);
    }
}

TEST(CSVEscaping, OnePassUnescapeIsTheInverseOfEscape) {
    const std::vector<std::string> texts = {"a\nb\tc",
                                            "literal \\n stays",
                                            "\\\\n",
                                            "quote \" and ' apostrophe",
                                            "ends with backslash \\",
                                            "\r\f\t\n",
                                            "",
                                            "\xC3\xA9t\xC3\xA9 \xE2\x9C\x93"};
    for (const auto& t : texts) EXPECT_EQ(stringEscapedFromCSV(stringEscapedForCSV(t)), t) << t;

    EXPECT_EQ(stringEscapedForCSV("a\\b\"c'd\ne\rf\fg\th"), "a\\\\b\\\"c\\'d\\ne\\rf\\fg\\th");
    EXPECT_EQ(stringEscapedFromCSV("a\\nb\\t"), "a\nb\t");
    // One left-to-right pass: an escaped backslash followed by n is backslash-n, not a
    // line feed (sequential replacing would turn it into one).
    EXPECT_EQ(stringEscapedFromCSV("\\\\n"), "\\n");
    // Unknown escapes and a trailing backslash stay as written.
    EXPECT_EQ(stringEscapedFromCSV("\\x\\"), "\\x\\");
}

TEST(CSVLoader, KeyMapErrors) {
    std::optional<TBNCSVLoaderError> error;
    auto noUrl = TBNCSVKeyMap::byName({{"login", "login"}, {"password", "password"}});
    EXPECT_TRUE(load("login,password\na,b\n", noUrl, &error).empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1);
    EXPECT_EQ(error->message, "Missed url key (need 'url' or 'domain' key)");

    error.reset();
    auto noPassword = TBNCSVKeyMap::byName({{"url", "url"}, {"login", "login"}});
    EXPECT_TRUE(load("url,login\nx,y\n", noPassword, &error).empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -2);
    EXPECT_EQ(error->message, "Missed account keys (need 'login' and 'password' keys)");

    error.reset();
    auto domainOnly = TBNCSVKeyMap::byName({{"domain", "d"}, {"login", "l"}, {"password", "p"}});
    EXPECT_EQ(load("d,l,p\nexample.com,me,pw\n", domainOnly, &error).size(), 1u);
    EXPECT_FALSE(error);

    error.reset();
    EXPECT_TRUE(load("url,domain,login,password,notes,display_name\nx,y,z,w,,\n", ownKeys(), &error)
                    .empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -3);
    EXPECT_EQ(error->message, "Unsuported file format");

    error.reset();
    EXPECT_TRUE(load("", ownKeys(), &error).empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "Unsuported file format");

    error.reset();
    EXPECT_TRUE(
        load("url,domain,login,password,notes,display_name,fav\n,,,,,,\n", ownKeys(), &error)
            .empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -3);
    EXPECT_EQ(error->message, "No entry for import");
}

TEST(CSVLoader, HeaderNamesFieldCountsAndColumnNumbers) {
    // An empty header field is named by its column number.
    auto keys = TBNCSVKeyMap::byName({{"domain", "0"}, {"login", "1"}, {"password", "2"}});
    auto sites = load(",,\nexample.com,me,pw\n", keys);
    ASSERT_EQ(sites.size(), 1u);

    // With a header of 7 columns a line of 6 fields is dropped; by column number it counts.
    std::string text = "a,b,c,d,e,f,g\nexample.com,me,pw,,,\n";
    auto named = TBNCSVKeyMap::byName({{"domain", "a"}, {"login", "b"}, {"password", "c"}});
    std::optional<TBNCSVLoaderError> error;
    EXPECT_TRUE(load(text, named, &error).empty());
    EXPECT_EQ(error->message, "No entry for import");
    auto numbered = TBNCSVKeyMap::byColumn({{"domain", 0}, {"login", 1}, {"password", 2}});
    auto rows = load(text, numbered);
    // The header line is a data line here too: "a" has no dot, so "b"/"c" go to site "a".
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1]->domain(), "example.com");
}

TEST(CSVLoader, SiteRules) {
    const std::string header = "url,domain,login,password,notes,display_name,fav\n";
    auto sites =
        load(header +
                 ",,nobody,pw,,,\n"                                       // Unknown
                 "https://www.mail.example.com/x,Mail,me,pw,,Mail UI,\n"  // name without dot
                 ",bank.example.org,me,pw,,,\n"                           // dotted domain
                 "https://a.shop.test/,shop.test,me,pw,,,\n"
                 "https://b.shop.test/,shop.test,me,pw,,,\n"  // duplicate login
                 ",,,,,,\n",                                  // nothing
             ownKeys());
    ASSERT_EQ(sites.size(), 4u);
    EXPECT_EQ(sites[0]->domain(), "Unknown");
    EXPECT_EQ(sites[0]->siteUrl(), "");
    EXPECT_TRUE(sites[0]->formUrls()->empty());

    EXPECT_EQ(sites[1]->domain(), "example.com");
    EXPECT_EQ(sites[1]->siteUrl(), "example.com");
    EXPECT_EQ(*sites[1]->formUrls(), std::set<std::string>{"https://www.mail.example.com/x"});
    EXPECT_EQ(sites[1]->displayName(), "Mail UI");

    EXPECT_EQ(sites[2]->siteUrl(), "bank.example.org");
    EXPECT_EQ(*sites[2]->formUrls(), std::set<std::string>{"http://bank.example.org"});

    ASSERT_EQ(sites[3]->loginData()->size(), 1u);
    EXPECT_EQ(*sites[3]->formUrls(),
              (std::set<std::string>{"https://a.shop.test/", "https://b.shop.test/"}));
}

TEST(CSVLoader, LoginFieldsFlagsAndNotes) {
    auto sites = load(
        "url,domain,login,password,notes,display_name,fav\n"
        "https://x.example.com,x.example.com,a,pw1,line\\none,,true\n"
        "https://x.example.com,x.example.com,b,pw2,,,1\n"
        "https://x.example.com,x.example.com,c,pw3,,,TRUE\n"
        "https://x.example.com,x.example.com,d,,only login,,\n",
        ownKeys());
    ASSERT_EQ(sites.size(), 1u);
    const auto& logins = *sites[0]->loginData();
    ASSERT_EQ(logins.size(), 4u);
    EXPECT_EQ(logins[0]->notes(), "line\none");
    EXPECT_TRUE(logins[0]->isFavorited());
    // Only "true" counts for this map.
    EXPECT_FALSE(logins[1]->isFavorited());
    EXPECT_FALSE(logins[2]->isFavorited());
    EXPECT_TRUE(logins[0]->isFavoritedIsSet());
    EXPECT_FALSE(logins[0]->passwordProvided());
    EXPECT_EQ(logins[3]->password(), "");
    // Keys the map leaves out read as empty text.
    EXPECT_EQ(logins[0]->email(), "");
    EXPECT_FALSE(logins[0]->twoFactor());

    auto withOne = ownKeys();
    withOne.trueTexts.insert("1");
    auto again =
        load("url,domain,login,password,notes,display_name,fav\nhttps://x.example.com,,b,pw2,,,1\n",
             withOne);
    EXPECT_TRUE(again[0]->loginData()->at(0)->isFavorited());
}

TEST(CSVLoader, Filters) {
    TBNCSVLoaderFilter five;
    five.allowedColumnCount = 5;
    TBNCSVLoaderFilter notFour;
    notFour.deniedColumnCount = 4;
    TBNCSVLoaderFilter kind;
    kind.columnContainesValue = {{"4", "login"}};
    TBNCSVLoaderFilter notBad;
    notBad.columnNotContainesValue = {{"0", "bad.example.com"}};
    auto keys = TBNCSVKeyMap::byColumn({{"domain", 0}, {"login", 1}, {"password", 2}});
    auto sites = load(
        "ok.example.com,a,p,x,login\n"
        "six.example.com,a,p,x,login,6\n"
        "note.example.com,a,p,x,note\n"
        "bad.example.com,a,p,x,login\n",
        keys, nullptr, {five, notFour, kind, notBad});
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0]->domain(), "ok.example.com");
}

}  // namespace
}  // namespace lumvane::importtest
