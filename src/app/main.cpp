#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CommandLine.h"
#include "app/HeadlessApp.h"
#include "extension/browser/TBNNativeMessageProxy.h"
#include "lumvane/Version.h"

int main(int argc, char** argv) {
    // A browser starts us with an argument naming its extension: relay its messages to
    // the running application and leave at once when the browser closes the pipe.
    if (lumvane::isNativeMessagingHostInvocation(argc, argv)) {
        std::fflush(nullptr);
        _exit(lumvane::runNativeMessagingHost(STDIN_FILENO, STDOUT_FILENO));
    }

    const std::string program = argc > 0 && argv[0] ? argv[0] : "lumvane";
    const auto commandLine = lumvane::CommandLine::parse(argc, argv);
    if (commandLine.error) {
        std::fprintf(stderr, "lumvane: %s\n%s", commandLine.error->c_str(),
                     lumvane::CommandLine::usage(program).c_str());
        return 2;
    }
    switch (commandLine.mode) {
        case lumvane::CommandLine::Mode::Help:
            std::fputs(lumvane::CommandLine::usage(program).c_str(), stdout);
            return 0;
        case lumvane::CommandLine::Mode::Version:
            std::printf("%s %s\n", lumvane::kAppName, lumvane::kAppVersion);
            return 0;
        case lumvane::CommandLine::Mode::Headless: {
            const int status = lumvane::runHeadless(commandLine);
            // Queue threads of the service may still be parked; end without running
            // static destructors under them (logs were flushed by the run).
            std::fflush(nullptr);
            _exit(status);
        }
        case lumvane::CommandLine::Mode::Application:
            break;
    }
    // The status-item application comes with the Qt shell; until then say how to run.
    std::printf("%s %s\n", lumvane::kAppName, lumvane::kAppVersion);
    std::printf("The status-item application is not part of this build; run with --headless.\n");
    return 0;
}
