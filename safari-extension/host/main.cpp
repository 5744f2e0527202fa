// A small host for the extension library: one in-memory browser window with one tab, the
// real settings, keychain and main-application address unless overridden. It reads JSON
// lines from standard input and prints what the extension sends back:
//
//   {"name":"start","userInfo":{"context":{"tbn_tid":"1_2","tbn_fid":"0"}}}   page message
//   {"popup":{"command":"getState"}}                                         popover command
//   {"ping":true}                                                            one ping now
//
// Options: --url <main application address>, --page <URL of the tab's page>.
#include <iostream>
#include <string>
#include <thread>

#include "FakeBrowser.h"
#include "SafariExtensionHandler.h"
#include "SafariExtensionViewController.h"
#include "SafariLog.h"
#include "runtime/DispatchQueue.h"

namespace {

class PrintingPopup : public lumvane::FakePopupWebView {
  public:
    void evaluateJavaScript(const std::string& script) override {
        std::cout << nlohmann::json{{"to", "popup"}, {"script", script}}.dump() << std::endl;
    }
    void dismissPopover() override { std::cout << R"({"to":"popup","dismiss":true})" << std::endl; }
};

class PrintingPage : public lumvane::FakePage {
  public:
    using FakePage::FakePage;
    void dispatchMessageToScript(const std::string& name,
                                 const lumvane::JSDictionary& info) override {
        std::cout << nlohmann::json{{"to", "page"}, {"name", name}, {"userInfo", info}}.dump()
                  << std::endl;
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace lumvane;
    std::string pageURL = "https://www.example.com/login";
    SessionEnvironment env;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--url") {
            env.communication.url = argv[i + 1];
        } else if (opt == "--page") {
            pageURL = argv[i + 1];
        } else {
            std::cerr << "usage: " << argv[0] << " [--url URL] [--page URL]" << std::endl;
            return 2;
        }
    }
    SafariLog::setPrintSink([](const std::string& line) { std::cerr << line << std::endl; });

    auto app = std::make_shared<FakeSafariApplication>();
    auto window = std::make_shared<FakeWindow>(1);
    auto tab = std::make_shared<FakeTab>(2);
    tab->setWindow(window);
    auto page = std::make_shared<PrintingPage>(pageURL);
    tab->setPage(page);
    window->setActiveTab(tab);
    app->setActiveWindow(window);
    env.application = app;

    SessionStorage session(env);
    SafariExtensionHandler handler(session);
    session.popupViewController().viewDidLoad(std::make_shared<PrintingPopup>());

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        auto input = nlohmann::json::parse(line, nullptr, false);
        if (input.is_discarded() || !input.is_object()) {
            std::cerr << "not a JSON object: " << line << std::endl;
            continue;
        }
        if (input.contains("name") && input["name"].is_string()) {
            std::optional<JSDictionary> info;
            if (input.contains("userInfo")) info = input["userInfo"];
            handler.messageReceived(input["name"], page, info);
        } else if (input.contains("popup")) {
            session.popupViewController().userContentControllerDidReceiveScriptMessage(
                "service", input["popup"]);
        } else if (input.contains("ping")) {
            auto state = SafariExtensionHandler::stateForPing(session.communication().sendPing());
            std::cout << nlohmann::json{{"state", serviceStateName(state)}}.dump() << std::endl;
        }
    }
    // Let delayed popover answers (the accounts come after a second) arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    session.messageQueue()->sync([] {});
    session.mainQueue()->sync([] {});
    return 0;
}
