#include "update/resource_helpers.h"

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

// Makes a file current for the life of the object, then the one that was.
class CurrentFileScope {
  public:
    explicit CurrentFileScope(uint16_t refNum) : saved_(CurrentResourceFile()) {
        UseResourceFile(refNum);
    }
    ~CurrentFileScope() { UseResourceFile(saved_); }
    CurrentFileScope(const CurrentFileScope &) = delete;
    CurrentFileScope &operator=(const CurrentFileScope &) = delete;

  private:
    uint16_t saved_;
};

// Lets go of a Handle that a move made the destination's. Writing it over its
// old block may already have taken it out of its slot; it is then no longer the
// file's (a later lookup loads the data again), so it is freed here.
void ReleaseMoved(Handle h) {
    ReleaseResource(h);
    if (ResourceError() == kResourceNotFound) DisposeHandle(h);
}

// Finds (type, id) in the current file and moves it into destination.
int16_t CopyFromCurrent(int16_t id, uint32_t type, uint16_t destination) {
    Handle h = nullptr;
    int16_t status = GetOneResourceChecked(&h, type, id);
    if (status != kStatusOk) return status;
    uint8_t name[256] = {};
    GetResourceNameChecked(name, h);
    status = MoveResourceInto(h, type, id, name, destination);
    if (status == kStatusOk) ReleaseMoved(h);
    return status;
}

}  // namespace

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
    return LookupStatus(out, GetOneResource(type, id));
}

int16_t GetNamedResourceChecked(Handle *out, uint32_t type, const uint8_t *name) {
    return LookupStatus(out, GetNamedResource(type, name));
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

int16_t RemoveResourceChecked(Handle h) {
    RemoveResource(h);
    int16_t error = ResourceError();
    if (error == kResourceOk) {
        DisposeHandle(h);
    } else {
        ReleaseResource(h);
    }
    return error;
}

int HasOneResource(int16_t id, uint32_t type) {
    Handle h = nullptr;
    return GetOneResourceChecked(&h, type, id) == kStatusOk ? 1 : 0;
}

int16_t MoveResourceInto(Handle h, uint32_t type, int16_t id, const uint8_t *name,
                         uint16_t destination) {
    CurrentFileScope scope(destination);
    DetachResource(h);
    int16_t status = AddResourceChecked(h, type, id, name);
    if (status == kStatusOk) {
        WriteResource(h);
    } else {
        DisposeHandle(h);
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
