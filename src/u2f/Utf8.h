#pragma once
// Strict UTF-8 check (no overlong forms, no surrogates, nothing above U+10FFFF).
#include "runtime/Bytes.h"

namespace lumvane {
bool isValidUtf8(const Bytes& bytes);
}
