#include "update/resource_helpers.h"

#include <algorithm>
#include <cstring>

#include "resources/map_block.h"
#include "resources/open_files.h"
#include "resources/resource_manager.h"

namespace {

struct ErrorTranslation {
    int16_t error;
    int16_t status;
};

// Resource Manager and file system codes and the statuses they become. -58
// counts as success.
constexpr ErrorTranslation kTranslations[] = {
    {-206, 70}, {-205, 69}, {-204, 53}, {-203, 73}, {-201, 72}, {-200, 71}, {-194, 27}, {-193, 4},
    {-192, 3},  {-108, 18}, {-61, 77},  {-58, 0},   {-51, 55},  {-49, 57},  {-46, 76},  {-45, 75},
    {-44, 74},  {-43, 51},  {-42, 58},  {-38, 52},  {-37, 56},  {-36, 53},  {-35, 54},  {-34, 47},
};

// The status of the Resource Manager's last operation.
int16_t LastStatus() {
    return MapResourceError(ResourceError());
}

// The end of a lookup: the translated error, else 3 for nothing found.
int16_t LookupStatus(Handle *out, Handle found) {
    *out = found;
    int16_t status = LastStatus();
    if (status != kStatusOk) return status;
    return found == nullptr ? kStatusNotFound : kStatusOk;
}

// Finds (type, id) in the current file and moves it into destination.
int16_t CopyFromCurrent(int16_t id, uint32_t type, uint16_t destination) {
    Handle h = nullptr;
    int16_t status = GetOneResourceChecked(&h, type, id);
    if (status != kStatusOk) return status;
    uint8_t name[256] = {};
    GetResourceNameChecked(name, h);
    status = MoveResourceInto(h, type, id, name, destination);
    if (status == kStatusOk) ReleaseOrDispose(h, type);
    return status;
}

}  // namespace

CurrentFileScope::CurrentFileScope(uint16_t refNum) : saved_(CurrentResourceFile()) {
    UseResourceFile(refNum);
}

CurrentFileScope::~CurrentFileScope() {
    UseResourceFile(saved_);
}

int16_t MapResourceError(int16_t error) {
    for (const ErrorTranslation &row : kTranslations) {
        if (row.error == error) return row.status;
    }
    return error;
}

int16_t GetResourceChecked(Handle *out, uint32_t type, int16_t id) {
    *out = nullptr;
    if (id < kLowestGuardedId) return kStatusLowId;
    return LookupStatus(out, GetResource(type, id));
}

int16_t GetOneResourceChecked(Handle *out, uint32_t type, int16_t id) {
    *out = nullptr;
    if (id < kLowestGuardedId) return kStatusLowId;
    int16_t status = LookupStatus(out, GetOneResource(type, id));
    // A resource that the file lists but whose data cannot be read is not
    // missing: an update must not go on as if the file lacked it.
    const ResourceFileRecord *file = CurrentFileRecord();
    if (status == kStatusNotFound && file != nullptr && FindResource(file->map, type, id, nullptr))
        status = kStatusUnreadable;
    return status;
}

int16_t GetNamedResourceChecked(Handle *out, uint32_t type, const uint8_t *name) {
    int16_t status = LookupStatus(out, GetNamedResource(type, name));
    // As for the lookups by id, one that the current file lists is not missing.
    const ResourceFileRecord *file = CurrentFileRecord();
    const uint32_t typeEntry = file != nullptr ? FindType(file->map, type) : 0;
    if (status == kStatusNotFound && typeEntry != 0 && name != nullptr &&
        FindReferenceByName(file->map, typeEntry, name) != 0) {
        status = kStatusUnreadable;
    }
    return status;
}

int16_t GetOneIndexedResourceChecked(Handle *out, uint32_t type, int16_t index) {
    return LookupStatus(out, GetOneIndexedResource(type, index));
}

int16_t GetResourceIdChecked(int16_t *id, Handle h) {
    GetResourceInfo(h, id, nullptr, nullptr);
    return LastStatus();
}

int16_t GetResourceNameChecked(uint8_t *name, Handle h) {
    GetResourceInfo(h, nullptr, nullptr, name);
    return LastStatus();
}

int16_t AddResourceChecked(Handle h, uint32_t type, int16_t id, const uint8_t *name) {
    AddResource(h, type, id, name);
    return LastStatus();
}

int16_t MarkChangedChecked(Handle h) {
    MarkResourceChanged(h);
    return LastStatus();
}

int16_t SaveResourceData(Handle h) {
    int16_t status = MarkChangedChecked(h);
    if (status != kStatusOk) return status;
    WriteResource(h);
    return LastStatus();
}

int16_t *CollectResourceIds(uint32_t type, int16_t count) {
    auto *ids = static_cast<int16_t *>(NewPointer(static_cast<uint32_t>(count) * sizeof(int16_t)));
    for (int16_t i = 0; ids != nullptr && i < count; ++i) {
        Handle h = nullptr;
        if (GetOneIndexedResourceChecked(&h, type, static_cast<int16_t>(i + 1)) != kStatusOk ||
            GetResourceIdChecked(&ids[i], h) != kStatusOk) {
            DisposePointer(ids);
            ids = nullptr;
        }
        ReleaseResource(h);
    }
    return ids;
}

void LeadingName(Handle record, uint8_t *name) {
    uint32_t size = static_cast<uint32_t>(GetHandleSize(record));
    uint32_t length = size == 0 ? 0 : std::min<uint32_t>((*record)[0], size - 1);
    name[0] = static_cast<uint8_t>(length);
    if (length > 0) std::memcpy(name + 1, *record + 1, length);
}

void ReleaseOrDispose(Handle h, uint32_t type) {
    uint32_t number = HandleNumber(h);
    int32_t home = HomeResourceFile(h);
    if (home < 0) {
        DisposeResourceHandle(h, type);
        return;
    }
    ReleaseResource(h);
    if (HandleFromNumber(number) != h) return;
    // Kept: its change could not be written. Left in its slot, it would lose
    // its last holder once a write over an old place lets go of it, so the
    // whole file is written back with it and it is released then.
    UpdateResourceFile(static_cast<uint16_t>(home));
    ReleaseResource(h);
}

int16_t RemoveResourceChecked(Handle h) {
    // A picture's bitmap block goes with its Handle.
    uint32_t type = 0;
    GetResourceInfo(h, nullptr, &type, nullptr);
    RemoveResource(h);
    int16_t error = ResourceError();
    if (error == kResourceOk) {
        DisposeResourceHandle(h, type);
    } else {
        ReleaseResource(h);
    }
    return error;
}

int16_t MoveResourceInto(Handle h, uint32_t type, int16_t id, const uint8_t *name,
                         uint16_t destination) {
    CurrentFileScope scope(destination);
    DetachResource(h);
    int16_t status = AddResourceChecked(h, type, id, name);
    if (status == kStatusOk) {
        WriteResource(h);
    } else {
        DisposeResourceHandle(h, type);
    }
    return status;
}

int16_t CopyOneResource(int16_t id, uint32_t type, uint16_t source, uint16_t destination) {
    CurrentFileScope scope(source);
    return CopyFromCurrent(id, type, destination);
}

int16_t CopyResourceRange(int16_t first, int16_t last, uint32_t type, uint16_t source,
                          uint16_t destination) {
    CurrentFileScope scope(source);
    int16_t status = kStatusOk;
    for (int32_t id = first; id <= last; ++id) {
        status = CopyFromCurrent(static_cast<int16_t>(id), type, destination);
        if (status == kStatusNotFound) status = kStatusOk;
        if (status != kStatusOk) break;
    }
    return status;
}
