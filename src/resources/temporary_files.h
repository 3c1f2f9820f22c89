// Names of the temporary files that stand beside a file while it is rewritten.
#pragma once

#include <cstddef>

// The folder part of path (up to and including its last '\', ':' or '/'; empty
// when there is none) followed by name, into out of capacity bytes. False when it
// does not fit.
bool TemporaryPathFor(const char *path, const char *name, char *out, size_t capacity);
