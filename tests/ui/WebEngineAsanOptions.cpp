// The browser engine's own library frees some objects through a base of
// another size, which AddressSanitizer's sized-delete check reports from
// inside the engine (not instrumented, not ours). The check stays on for
// every other test binary.
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
