// The fish updater of the kind updaters.
#include <algorithm>
#include <cstring>

#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "update/fish_names.h"
#include "update/kind_updaters.h"
#include "update/resource_helpers.h"
#include "update/update_driver.h"
#include "update/version_resources.h"

namespace {

constexpr uint32_t kFishItem = ResTypeOf("FsTI");
constexpr uint32_t kFishVersion = ResTypeOf("FiVe");

// The fish's resources that the update source holds anew, taken in this order
// after its two series of four.
constexpr uint32_t kFishSeries[] = {ResTypeOf("ELRA"), ResTypeOf("ELRB")};
constexpr int16_t kSeriesLength = 4;
constexpr uint32_t kFishReplacements[] = {
    ResTypeOf("FADP"), ResTypeOf("FBDP"), ResTypeOf("EGDP"), ResTypeOf("FsTI"),
    ResTypeOf("FsTH"), ResTypeOf("FsT2"), ResTypeOf("SuS#"), ResTypeOf("PrF#"),
};
// The fish's old pictures, which the new content no longer uses.
constexpr uint32_t kOldFishPictures[] = {ResTypeOf("FAPC"), ResTypeOf("FBPC")};
constexpr int16_t kOldPictureRange = 200;

// The extension of every fish and egg record: twice a short string "none" and a
// 32-bit 0; every other byte 0.
constexpr int32_t kRecordExtensionSize = 76;
constexpr uint32_t kExtensionNames[] = {0, 38};
constexpr uint8_t kNone[] = {4, 'n', 'o', 'n', 'e'};

// The last id of a run of count ids from first, stopping at 32767.
int16_t LastOfRun(int16_t first, int16_t count) {
    return static_cast<int16_t>(std::min<int32_t>(int32_t{first} + count - 1, INT16_MAX));
}

int16_t ExtendRecords(uint32_t type) {
    uint16_t count = CountOneResources(type);
    int16_t status = kStatusOk;
    for (uint32_t index = 1; status == kStatusOk && index <= count && index <= INT16_MAX; ++index) {
        Handle record = nullptr;
        status = GetOneIndexedResourceChecked(&record, type, static_cast<int16_t>(index));
        if (status != kStatusOk) break;
        Handle extension = NewHandle(kRecordExtensionSize);
        if (extension == nullptr) {
            status = MapResourceError(kMemoryFull);
        } else {
            for (uint32_t at : kExtensionNames)
                std::memcpy(*extension + at, kNone, sizeof kNone);
            int16_t appended = AppendHandle(extension, record);
            status = appended == 0 ? SaveResourceData(record) : MapResourceError(appended);
            DisposeHandle(extension);
        }
        ReleaseOrDispose(record, type);
    }
    return status;
}

}  // namespace

int16_t UpdateFish(uint16_t ref) {
    int16_t status = UpdateFishItems(ref);
    if (status == kStatusOk) status = ExtendFishRecords();
    // An egg record left short would be read in the new layout all the same.
    if (status == kStatusOk) status = ExtendEggRecords();
    if (specialFishId == kZidiRuvoId || specialFishId == kDoduroDoruviId) {
        int16_t fishId = specialFishId;
        specialFishId = 0;
        int named = aquariumMode != 0 ? NormaliseSpecialFishInAquarium(ref)
                                      : NormaliseSpecialFish(ref, fishId);
        if (named == 0) return 1;
    }
    if (status == kStatusOk) WriteBackCompacted(ref);
    return status;
}

int16_t UpdateFishItems(uint16_t ref) {
    // The ids are collected first: updating a fish replaces its FsTI resource.
    uint16_t count = std::min<uint16_t>(CountOneResources(kFishItem), INT16_MAX);
    if (count == 0) return kStatusOk;
    int16_t *ids = CollectResourceIds(kFishItem, static_cast<int16_t>(count));
    if (ids == nullptr) return MapResourceError(kMemoryFull);
    int16_t status = kStatusOk;
    for (uint16_t i = 0; status == kStatusOk && i < count; ++i)
        status = UpdateOneFish(ref, ids[i]);
    DisposePointer(ids);
    return status;
}

int16_t UpdateOneFish(uint16_t ref, int16_t id) {
    if (id == kZidiRuvoId || id == kDoduroDoruviId) specialFishId = id;
    for (uint32_t type : kFishSeries) {
        int16_t status = CopyResourceRange(id, LastOfRun(id, kSeriesLength), type, sourceRef, ref);
        if (status != kStatusOk) return status;
    }
    for (uint32_t type : kFishReplacements) {
        // A fish whose new resource cannot be read or put in place stays
        // unstamped, and the update fails, so that the file can be put back and
        // updated again.
        const int16_t status = ReplaceFromSource(id, type, sourceRef, ref);
        if (status != kStatusOk) return status;
    }
    RemoveOldFishResources(id);
    // Without its stamp the fish would be updated again, its records extended
    // twice: the update fails instead, and the file is put back.
    const int16_t stamped = StampVersion(kFishVersion, id, kCurrentVersion);
    if (stamped != kStatusOk && stamped != kStatusLowId) return stamped;
    WriteBackCompacted(ref);
    return kStatusOk;
}

void RemoveOldFishResources(int16_t id) {
    for (uint32_t type : kOldFishPictures) {
        for (int32_t at = id; at <= LastOfRun(id, kOldPictureRange); ++at) {
            Handle old = GetOneResource(type, static_cast<int16_t>(at));
            if (old != nullptr) RemoveResourceChecked(old);
        }
    }
}

int16_t ExtendFishRecords() {
    return ExtendRecords(ResTypeOf("FshI"));
}

int16_t ExtendEggRecords() {
    return ExtendRecords(ResTypeOf("EggI"));
}
