#include "update/conversion_log.h"

#include <cstring>

#include "resources/resource_manager.h"
#include "update/resource_helpers.h"

namespace {

constexpr uint32_t kEntrySize = 6;

}  // namespace

bool FindConversionLog(Handle *log) {
    *log = nullptr;
    if (CountOneResources(kConversionLogType) == 0) return true;
    return GetOneIndexedResourceChecked(log, kConversionLogType, 1) == kStatusOk;
}

bool LogHolds(Handle log, uint32_t type, int16_t id) {
    uint32_t size = static_cast<uint32_t>(GetHandleSize(log));
    for (uint32_t at = 0; at + kEntrySize <= size; at += kEntrySize) {
        if (LoadU32(*log + at) == type && LoadI16(*log + at + 4) == id) return true;
    }
    return false;
}

bool LogRecord(Handle *log, uint32_t type, int16_t id) {
    Handle entry = NewHandle(kEntrySize);
    if (entry == nullptr) return false;
    StoreU32(*entry, type);
    StoreI16(*entry + 4, id);
    if (*log == nullptr) {
        const uint8_t noName = 0;
        if (AddResourceChecked(entry, kConversionLogType, kConversionLogId, &noName) == kStatusOk) {
            *log = entry;
            return true;
        }
    } else if (MarkChangedChecked(*log) == kStatusOk && AppendHandle(entry, *log) == 0) {
        DisposeHandle(entry);
        return true;
    }
    DisposeHandle(entry);
    return false;
}

void UnlogLastRecord(Handle log) {
    uint32_t size = static_cast<uint32_t>(GetHandleSize(log));
    if (size >= kEntrySize) std::memset(*log + size - kEntrySize, 0, kEntrySize);
}

bool DropConversionLog() {
    Handle log = nullptr;
    if (!FindConversionLog(&log)) return false;
    return log == nullptr || RemoveResourceChecked(log) == kResourceOk;
}
