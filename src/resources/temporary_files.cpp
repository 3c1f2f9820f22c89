#include "resources/temporary_files.h"

#include <cstring>

bool TemporaryPathFor(const char *path, const char *name, char *out, size_t capacity) {
    size_t folder = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == ':' || path[i] == '/') folder = i + 1;
    }
    size_t nameLength = std::strlen(name);
    if (folder + nameLength + 1 > capacity) return false;
    std::memcpy(out, path, folder);
    std::memcpy(out + folder, name, nameLength + 1);
    return true;
}
