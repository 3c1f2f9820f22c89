// Opening a resource file of any content and walking every resource its map
// lists: get by index, information, get by id and by name, release; then
// closing it (which writes the map back). Nothing may crash or read or write
// outside its memory.
#include "fuzz_support.h"
#include "resources/resource_manager.h"
#include "support/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Files of the older layouts are converted when opened; the old-layouts
    // target covers them.
    if (size >= 24 && data[20] == 0xDC && data[21] == 0x05) {
        const std::string path = WriteFuzzFile("file.rez", data, size);
        BeginResourceSession();
        uint8_t name[256];
        const uint16_t ref = OpenResourceFile(CToStr255(path.c_str(), name));
        if (ref != kNoFile) {
            WalkResources(ListedTypes(data, size));
            CloseResourceFile(ref);
        }
        EndResourceSession();
    }
    return 0;
}
