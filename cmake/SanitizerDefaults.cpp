// Default sanitizer options of every test and fuzz program, so a test reports the
// same way whether ctest, a script or a developer starts it.
extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1:suppressions=" LUMVANE_UBSAN_SUPPRESSIONS;
}
extern "C" const char* __asan_default_options() { return "detect_leaks=1:abort_on_error=1"; }
// fontconfig, loaded by Qt for any window with text, keeps a cache it never frees.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
