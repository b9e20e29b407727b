// Fontconfig keeps its parsed configuration and the patterns pango's font map caches for the
// life of the process; LeakSanitizer would report them at every exit.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
