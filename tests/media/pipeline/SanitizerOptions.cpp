// The sanitizers' settings for the test binaries that play media. GLib, loaded before
// main, allocates its first table of quarks while it is initialised and leaves it behind
// when the table grows (GStreamer's plug-ins add many): that block is no leak of ours. Its
// allocation is only recognisable by the frames below GLib, which the fast unwinder cannot
// see through GLib's code, so allocations are unwound in full.

extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:_dl_init\n";
}
