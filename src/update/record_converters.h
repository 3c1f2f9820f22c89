// Converting the content records of a file that arrived in an older resource
// file format to their new layouts.
#pragma once

#include <cstdint>

// Rebuilds every record of the fifteen converted types in the open file refNum
// in its new layout, under the same type, id and name, one type after the
// other, then writes the file back compacted. Records that an earlier, failed
// conversion already rebuilt are left alone. Returns 1 when every type was
// converted and makes the file that was current current again; on the first
// failure returns 0 at once, without the final write-back, leaving refNum the
// current file.
int ConvertOldRecords(uint16_t refNum);
