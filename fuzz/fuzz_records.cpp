// Content records of any content rebuilt in their new layouts: the first byte
// picks one of the fifteen layouts, the rest is the old record.
#include <cstring>

#include "fuzz_support.h"
#include "update/record_rebuild.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const auto layouts = RecordLayouts();
    const RecordLayout &layout = layouts[data[0] % layouts.size()];
    BeginResourceSession();
    Handle old = NewHandle(static_cast<int32_t>(size - 1));
    if (old != nullptr && size > 1) std::memcpy(*old, data + 1, size - 1);
    if (Handle rebuilt = BuildNewRecord(layout, old)) {
        Require(GetHandleSize(rebuilt) >= layout.newSize,
                "a rebuilt record is short of its layout");
        DisposeHandle(rebuilt);
    }
    DisposeHandle(old);
    EndResourceSession();
    return 0;
}
