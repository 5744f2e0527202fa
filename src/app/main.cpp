#include <cstdio>

#include "lumvane/Version.h"

int main() {
    std::printf("%s %s\n", lumvane::kAppName, lumvane::kAppVersion);
    return 0;
}
