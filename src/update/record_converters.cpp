#include "update/record_converters.h"

#include <cstdint>

#include "resources/resource_manager.h"
#include "update/conversion_log.h"
#include "update/record_layouts.h"
#include "update/record_rebuild.h"
#include "update/resource_helpers.h"

namespace {

// Puts old's record in the new layout in place of old: the log entry and the
// removal of old reach the disk together, then the new record is added and
// written. False when it was refused or a step failed.
bool ReplaceRecord(const RecordLayout &layout, int16_t id, Handle old, Handle *log) {
    uint8_t name[256] = {};
    GetResourceNameChecked(name, old);
    Handle fresh = BuildNewRecord(layout, old);
    if (fresh == nullptr) {
        ReleaseResource(old);
        return false;
    }
    if (!LogRecord(log, layout.type, id)) {
        DisposeHandle(fresh);
        ReleaseResource(old);
        return false;
    }
    if (RemoveResourceChecked(old) != kResourceOk) {
        UnlogLastRecord(*log);
        DisposeHandle(fresh);
        return false;
    }
    WriteResource(*log);
    UpdateResourceFile(CurrentResourceFile());
    if (AddResourceChecked(fresh, layout.type, id, name) != kStatusOk) {
        DisposeHandle(fresh);
        return false;
    }
    WriteResource(fresh);
    ReleaseOrDispose(fresh, layout.type);
    return true;
}

bool ConvertRecord(const RecordLayout &layout, int16_t id) {
    Handle log = nullptr;
    if (!FindConversionLog(&log)) return false;
    bool done = LogHolds(log, layout.type, id);
    if (!done) {
        // Records may carry any id, so the lookup is not the guarded one.
        Handle old = GetOneResource(layout.type, id);
        done = old != nullptr && ReplaceRecord(layout, id, old, &log);
    }
    ReleaseResource(log);
    return done;
}

// The record converter of one type, for the count resources of that type in the
// current file. The ids are collected first, and each resource is then found
// by its id, since the conversion changes the order of the resources.
bool ConvertRecords(const RecordLayout &layout, int16_t count) {
    int16_t *ids = CollectResourceIds(layout.type, count);
    bool ok = ids != nullptr;
    for (int16_t i = 0; ok && i < count; ++i)
        ok = ConvertRecord(layout, ids[i]);
    if (ids != nullptr) DisposePointer(ids);
    return ok;
}

}  // namespace

int ConvertOldRecords(uint16_t refNum) {
    uint16_t saved = CurrentResourceFile();
    UseResourceFile(refNum);
    for (const RecordLayout &layout : RecordLayouts()) {
        uint16_t count = CountOneResources(layout.type);
        // The converters index resources by signed 16-bit numbers.
        if (count > INT16_MAX) return 0;
        if (count > 0 && !ConvertRecords(layout, static_cast<int16_t>(count))) return 0;
    }
    // A log left behind would outlive the conversion it records.
    if (!DropConversionLog()) return 0;
    SetResourceCompaction(3);
    UpdateResourceFile(refNum);
    UseResourceFile(saved);
    return 1;
}
