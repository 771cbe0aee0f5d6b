// Under LeakSanitizer: fontconfig, which Qt's font database loads even on the
// offscreen platform, keeps a cache it never frees. That is the system
// library's, not ours, so it is not reported.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
