// Opening a file of an older layout converts it to the current one on disk.
// Whatever the input, nothing may crash; a conversion that succeeds leaves a
// file that the format kit's strict reader accepts (when it accepts the old
// one), and a refused one leaves
// the old file or a step of its conversion.
#include "fuzz_support.h"
#include "resources/resource_manager.h"
#include "rezkit/rezkit.h"
#include "support/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    if (size < 256) return 0;  // no room for the header and the info area
    const int layout = LayoutOf(input);
    if (layout != 1000 && layout != 1100) return 0;
    const std::string path = WriteFuzzFile("old.rez", data, size);
    BeginResourceSession();
    uint8_t name[256];
    const uint16_t ref = OpenResourceFile(CToStr255(path.c_str(), name));
    const std::vector<uint8_t> converted = ReadFuzzFile(path);
    if (ref == kNoFile) {
        // Refused: the file is as it was, or half-way (a layout-1000 file whose
        // first step to layout 1100 was made), or converted.
        Require(converted == input || LayoutOf(converted) == 1500 ||
                    (layout == 1000 && LayoutOf(converted) == 1100),
                "a refused conversion left something else than the old file or a step of it");
    } else {
        FixtureFile file;
        std::string why;
        // Damage in the data area comes through a conversion as it was; a
        // sound old file gives a sound new one.
        const bool soundBefore = ParseResourceFile(WithoutInfoRest(input), &file, &why);
        const bool sound =
            !soundBefore || ParseResourceFile(WithoutInfoRest(converted), &file, &why);
        Require(sound, ("a converted file is not sound: " + why).c_str());
        WalkResources(ListedTypes(converted.data(), converted.size()));
        CloseResourceFile(ref);
    }
    EndResourceSession();
    return 0;
}
