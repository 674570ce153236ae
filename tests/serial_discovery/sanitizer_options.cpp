// In the sanitizer build, for the test binaries that run under the device test bed. The test bed's
// preload library stands before the sanitizer's runtime in the list of libraries, and its GLib keeps
// type data and its servers' state until the process ends: neither is a fault of ours. Leaks of our
// own code are still reported; the programs the tests start are not affected.
extern "C" const char *__asan_default_options() { return "verify_asan_link_order=0"; }

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libumockdev.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n";
}
