#include "update/fish_names.h"

#include <cstring>

#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "support/strings.h"
#include "update/kind_updaters.h"
#include "update/resource_helpers.h"

namespace {

constexpr uint32_t kFishInformation = ResTypeOf("FshI");
constexpr uint32_t kFishHead = ResTypeOf("FsTH");
constexpr uint32_t kFishItem = ResTypeOf("FsTI");

constexpr uint8_t kZidiRuvo[] =
    "\x08"
    "ZidiRuvo";
constexpr uint8_t kDoduroDoruvi[] =
    "\x0C"
    "DoduroDoruvi";
constexpr int16_t kSpecialFish[] = {kZidiRuvoId, kDoduroDoruviId};
// The resources that carry the fish's name as their resource name.
constexpr uint32_t kRenamedTypes[] = {kFishHead, kFishItem};

// Puts a copy of old's data (with recordName, when given, written over the
// start of the record) in place of old, as (type, id) named name. Consumes old.
bool ReplaceWithCopy(Handle old, uint32_t type, int16_t id, const uint8_t *name,
                     const uint8_t *recordName) {
    uint32_t size = static_cast<uint32_t>(GetHandleSize(old));
    // A record too short for the new name is left as it is.
    Handle copy = recordName == nullptr || size > recordName[0]
                      ? NewHandle(static_cast<int32_t>(size))
                      : nullptr;
    if (copy == nullptr) {
        ReleaseOrDispose(old, type);
        return false;
    }
    if (size > 0) std::memcpy(*copy, *old, size);
    if (recordName != nullptr) std::memcpy(*copy, recordName, 1u + recordName[0]);
    if (RemoveResourceChecked(old) != kResourceOk) {
        DisposeHandle(copy);
        return false;
    }
    UpdateResourceFile(CurrentResourceFile());
    if (AddResourceChecked(copy, type, id, name) != kStatusOk) {
        DisposeHandle(copy);
        return false;
    }
    WriteResource(copy);
    ReleaseOrDispose(copy, type);
    return true;
}

// Writes fishName over the name of the FshI records with these ids, keeping
// their ids and resource names.
bool NameRecords(const int16_t *ids, int32_t count, const uint8_t *fishName) {
    for (int32_t i = 0; i < count; ++i) {
        Handle old = GetOneResource(kFishInformation, ids[i]);
        if (old == nullptr) return false;
        uint8_t name[256] = {};
        GetResourceNameChecked(name, old);
        if (!ReplaceWithCopy(old, kFishInformation, ids[i], name, fishName)) return false;
    }
    return true;
}

// Sorts the ids of the count FshI records of the current file into the lists of
// the two special names (lists[k] for kSpecialFish[k]), comparing letters
// without regard to their case.
bool SortByName(int16_t count, int16_t *lists[2], int32_t found[2]) {
    for (int16_t index = 1; index <= count; ++index) {
        Handle record = nullptr;
        int16_t id = 0;
        if (GetOneIndexedResourceChecked(&record, kFishInformation, index) != kStatusOk ||
            GetResourceIdChecked(&id, record) != kStatusOk) {
            return false;
        }
        uint8_t name[256];
        char text[256];
        LeadingName(record, name);
        Str255ToC(name, text);
        ReleaseOrDispose(record, kFishInformation);
        for (int k = 0; k < 2; ++k) {
            char special[256];
            if (CompareNoCase(text, Str255ToC(SpecialFishName(kSpecialFish[k]), special)) == 0)
                lists[k][found[k]++] = id;
        }
    }
    return true;
}

// Names the records of each list and then renames the resources of each name
// met: FsTH before FsTI, 10000 before 10200.
bool NameSortedFish(int16_t count, int16_t *lists[2]) {
    int32_t found[2] = {};
    if (!SortByName(count, lists, found)) return false;
    for (int k = 0; k < 2; ++k) {
        if (found[k] == 0) continue;
        if (!NameRecords(lists[k], found[k], SpecialFishName(kSpecialFish[k]))) return false;
        UpdateResourceFile(CurrentResourceFile());
    }
    for (uint32_t type : kRenamedTypes) {
        for (int k = 0; k < 2; ++k) {
            if (found[k] != 0 && RenameSpecialFishResource(type, kSpecialFish[k]) == 0)
                return false;
        }
    }
    return true;
}

}  // namespace

const uint8_t *SpecialFishName(int16_t fishId) {
    return fishId == kZidiRuvoId ? kZidiRuvo : kDoduroDoruvi;
}

int SetFishInformationName(int16_t fishId, int16_t count) {
    int16_t *ids = CollectResourceIds(kFishInformation, count);
    if (ids == nullptr) return 0;
    bool named = NameRecords(ids, count, SpecialFishName(fishId));
    DisposePointer(ids);
    if (!named) return 0;
    UpdateResourceFile(CurrentResourceFile());
    return 1;
}

int RenameSpecialFishResource(uint32_t type, int16_t fishId) {
    Handle old = GetOneResource(type, fishId);
    if (old == nullptr || !ReplaceWithCopy(old, type, fishId, SpecialFishName(fishId), nullptr))
        return 0;
    UpdateResourceFile(CurrentResourceFile());
    return 1;
}

int NormaliseSpecialFish(uint16_t refNum, int16_t fishId) {
    uint16_t count = CountOneResources(kFishInformation);
    if (count == 0) return 1;
    if (count > INT16_MAX) return 0;
    if (SetFishInformationName(fishId, static_cast<int16_t>(count)) == 0 ||
        RenameSpecialFishResource(kFishHead, fishId) == 0 ||
        RenameSpecialFishResource(kFishItem, fishId) == 0) {
        return 0;
    }
    WriteBackCompacted(refNum);
    return 1;
}

int NormaliseSpecialFishInAquarium(uint16_t refNum) {
    uint16_t count = CountOneResources(kFishInformation);
    if (count == 0) return 1;
    if (count > INT16_MAX) return 0;
    const uint32_t size = count * static_cast<uint32_t>(sizeof(int16_t));
    int16_t *lists[2] = {static_cast<int16_t *>(NewPointer(size)),
                         static_cast<int16_t *>(NewPointer(size))};
    bool named = lists[0] != nullptr && lists[1] != nullptr &&
                 NameSortedFish(static_cast<int16_t>(count), lists);
    for (int16_t *list : lists) {
        if (list != nullptr) DisposePointer(list);
    }
    if (!named) return 0;
    WriteBackCompacted(refNum);
    return 1;
}
