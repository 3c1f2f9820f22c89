#include "update/version_resources.h"

#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "update/resource_helpers.h"

namespace {

constexpr int32_t kVersionSize = 2;

// Adds a new version resource holding value to the current file and writes it.
int16_t AddVersion(uint32_t versionType, int16_t id, int16_t value) {
    Handle h = NewHandle(kVersionSize);
    if (h == nullptr) return MapResourceError(kMemoryFull);
    StoreI16(*h, value);
    const uint8_t noName = 0;
    int16_t status = AddResourceChecked(h, versionType, id, &noName);
    if (status != kStatusOk) {
        DisposeHandle(h);
        return status;
    }
    WriteResource(h);
    ReleaseOrDispose(h, versionType);
    return kStatusOk;
}

}  // namespace

int16_t CheckVersion(uint32_t versionType, int16_t id) {
    Handle h = nullptr;
    if (GetResourceChecked(&h, versionType, id) != kStatusOk) return 0;
    // A version resource too short for its number holds no version.
    bool current = GetHandleSize(h) >= kVersionSize && LoadI16(*h) >= kCurrentVersion;
    ReleaseResource(h);
    return current ? kStatusCurrent : 0;
}

int ItemNeedsUpdate(uint32_t infoType, uint32_t versionType) {
    Handle first = GetOneIndexedResource(infoType, 1);
    if (first == nullptr) return 1;
    int16_t id = 0;
    GetResourceInfo(first, &id, nullptr, nullptr);
    ReleaseResource(first);
    return CheckVersion(versionType, id) == 0 ? 1 : 0;
}

int16_t StampVersion(uint32_t versionType, int16_t id, int16_t value) {
    Handle h = nullptr;
    int16_t status = GetOneResourceChecked(&h, versionType, id);
    if (status == kStatusNotFound) return AddVersion(versionType, id, value);
    if (status != kStatusOk) return status;
    // One too short for the number is replaced by a new one.
    if (GetHandleSize(h) < kVersionSize) {
        int16_t error = RemoveResourceChecked(h);
        return error != kResourceOk ? MapResourceError(error) : AddVersion(versionType, id, value);
    }
    StoreI16(*h, value);
    status = SaveResourceData(h);
    ReleaseOrDispose(h, versionType);
    return status;
}
