#include "app/shell/ServiceHTTPClient.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <thread>

namespace lumvane {
namespace {

TEST(ServiceURLTest, ParsesOnlyPlainAbsoluteHttpURLs) {
    auto url = ServiceURL::parse("https://api.example.com/feedback/Prod");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "https");
    EXPECT_EQ(url->host, "api.example.com");
    EXPECT_EQ(url->port, 443);
    EXPECT_EQ(url->pathAndQuery, "/feedback/Prod");
    auto local = ServiceURL::parse("http://127.0.0.1:8080?a=b");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->port, 8080);
    EXPECT_EQ(local->pathAndQuery, "/?a=b");
    EXPECT_EQ(local->text(), "http://127.0.0.1:8080/?a=b");
    for (const char* bad :
         {"", "ftp://x/", "https://", "https://:80/", "http://a:0/", "http://a:99999/",
          "http://a:8x/", "http://a b/", "http://a/b c", "http://us@er/"}) {
        EXPECT_FALSE(ServiceURL::parse(bad)) << bad;
    }
}

class LocalServer {
  public:
    LocalServer() {
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::yield();
    }
    ~LocalServer() {
        server.stop();
        thread.join();
    }
    httplib::Server server;
    int port = 0;
    std::thread thread;
};

ServiceHTTPResult run(ServiceHTTPClient& client, ServiceHTTPRequest request) {
    std::promise<ServiceHTTPResult> done;
    client.start(std::move(request), [&](ServiceHTTPResult r) { done.set_value(std::move(r)); });
    return done.get_future().get();
}

TEST(HttplibServiceHTTPClientTest, PostsBodyAndHeadersAndCapsTheReply) {
    LocalServer local;
    std::string seenBody, seenType, seenQuery;
    local.server.Post("/echo", [&](const httplib::Request& req, httplib::Response& res) {
        seenBody = req.body;
        seenType = req.get_header_value("Content-Type");
        seenQuery = req.get_param_value("access_key");
        res.status = 201;
        res.set_content("{\"ok\":true}", "application/json");
    });
    local.server.Post("/huge", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(HttplibServiceHTTPClient::kMaxBodySize + 1, 'x'), "text/plain");
    });
    HttplibServiceHTTPClient client;
    ServiceHTTPRequest request;
    request.url = *ServiceURL::parse("http://127.0.0.1:" + std::to_string(local.port) +
                                     "/echo?access_key=k1");
    request.method = "POST";
    request.headers["Content-Type"] = "application/json";
    request.body = "{\"rate\":5}";
    auto result = run(client, request);
    ASSERT_TRUE(result.response) << result.error.value_or("");
    EXPECT_EQ(result.response->status, 201);
    EXPECT_EQ(result.response->body, "{\"ok\":true}");
    EXPECT_EQ(seenBody, "{\"rate\":5}");
    EXPECT_EQ(seenType, "application/json");
    EXPECT_EQ(seenQuery, "k1");

    request.url.pathAndQuery = "/huge";
    auto huge = run(client, request);
    EXPECT_FALSE(huge.response);
    EXPECT_TRUE(huge.error);
}

TEST(HttplibServiceHTTPClientTest, ConnectionFailureIsReportedAsError) {
    int port;
    {
        LocalServer closed;  // take a free port, then close it
        port = closed.port;
    }
    HttplibServiceHTTPClient client;
    ServiceHTTPRequest request;
    request.url = *ServiceURL::parse("http://127.0.0.1:" + std::to_string(port) + "/x");
    request.method = "POST";
    request.timeout = std::chrono::seconds(2);
    auto result = run(client, request);
    EXPECT_FALSE(result.response);
    ASSERT_TRUE(result.error);
    EXPECT_FALSE(result.error->empty());
}

}  // namespace
}  // namespace lumvane
