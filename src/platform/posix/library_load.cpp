// The POSIX form of the library's entry point: when the shared library is
// loaded, the entry point receives the library's own module (its base address).
#include <dlfcn.h>

#include "interface/update_state.h"

namespace {

constexpr uint32_t kProcessAttach = 1;

__attribute__((constructor)) void LibraryLoaded() {
    Dl_info info{};
    void *module = nullptr;
    if (dladdr(reinterpret_cast<void *>(&LibraryLoaded), &info) != 0) module = info.dli_fbase;
    LibraryEntry(module, kProcessAttach, nullptr);
}

}  // namespace
