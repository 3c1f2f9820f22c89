// Files of the two older layouts are brought to layout 1500 the first time they
// are opened: layout 1000 is first rewritten in layout 1100 in place, and layout
// 1100 is rewritten in layout 1500 through "~RES0000.tmp" beside the file. The
// converted file carries the conversion-pending flag, which tells the update that
// its records still have the old formats.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// In resource_manager.h: int PrepareResourceFile(const char *path);

// Rewrites a layout-1000 file in layout 1100 in place. 1 when done. On failure
// the bytes written so far are put back, so the file is as it was.
int UpgradeOldestLayout(const char *path);
// Rewrites a layout-1100 file in layout 1500 through the temporary file, with the
// conversion-pending flag set. 1 when the file holds layout 1500. Until the old
// file is deleted, a failure leaves it as it was and removes the temporary file;
// a failed rename after that leaves the converted file under the temporary name.
int UpgradeVersion2Layout(const char *path);
// The kind code that a set of type flags names.
uint32_t KindOfTypeFlags(uint32_t flags);
// The flag of a resource type in the classification, or 0.
uint32_t TypeFlag(uint32_t type);
