#include <unistd.h>

#include <cstdio>

#include "extension/browser/TBNNativeMessageProxy.h"
#include "lumvane/Version.h"

int main(int argc, char** argv) {
    // A browser starts us with an argument naming its extension: relay its messages to
    // the running application and leave at once when the browser closes the pipe.
    if (lumvane::isNativeMessagingHostInvocation(argc, argv)) {
        std::fflush(nullptr);
        _exit(lumvane::runNativeMessagingHost(STDIN_FILENO, STDOUT_FILENO));
    }
    std::printf("%s %s\n", lumvane::kAppName, lumvane::kAppVersion);
    return 0;
}
