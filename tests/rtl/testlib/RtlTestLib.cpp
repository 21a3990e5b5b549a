// A tiny shared library for the library-loading tests: one exported entry
// point whose answer proves the right code was bound.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t rtltest_answer() { return 42; }
