#include "resources/resource_format.h"
#include "resources/resource_manager.h"
#include "support/file_io.h"

// Checks that path is a resource file and says which layout it is in. Files of
// the older layouts are not taken yet: they need converting first.
int PrepareResourceFile(const char *path) {
    FileHandle file = OpenFileForAccess(path, kOpenExisting, kGenericRead);
    if (file == kInvalidFile) return 0;
    int32_t version = 0;
    bool recognised = CheckFileHeader(file) && ReadFormatVersion(file, &version);
    CloseFileHandle(file);
    return recognised && version == kLayoutCurrent ? 1 : 0;
}
