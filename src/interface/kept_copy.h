// The copy of the content file that stands beside it while the update runs.
// An update changes the file step by step (one write-back per fish, then the
// records, then the version stamps), and its steps cannot all be made again: a
// failure half way would leave a file that is neither the old one nor the new
// one, and that a second update could take for current. So the file is copied
// before the update and put back when the update fails.
#pragma once

#include <cstdint>

// The name of the copy, in the folder of the content file.
inline constexpr char kKeptCopyName[] = "~SMKEEP.tmp";

// Copies the file at path to the kept copy beside it, whose path goes into
// copyPath (capacity bytes). False when the copy cannot be made, or one is there
// already: an update that did not finish left it, and it may be the only copy of
// the file as it was.
bool KeepCopy(const char *path, char *copyPath, uint32_t capacity);
// Puts the kept copy in place of the file at path. False when that fails; the
// copy then still holds the file as it was.
bool RestoreKeptCopy(const char *path, const char *copyPath);
