#include "update/update_driver.h"

#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "update/kind_updaters.h"
#include "update/record_converters.h"
#include "update/resource_helpers.h"
#include "update/version_resources.h"

// Each update sets specialFishId when it begins; aquariumMode is 1 only while
// the aquarium's updater runs.
uint8_t aquariumMode;
int16_t specialFishId;

namespace {

// The id of a version resource that stands for the whole file.
constexpr int16_t kFileVersionId = 128;

// How a kind's content is judged current, and its updater. Kinds judged by
// their first item name its info type; the others are judged by a version
// resource of the whole file.
struct KindUpdate {
    uint32_t kind;
    uint32_t infoType;  // 0: judged by the file's version resource
    uint32_t versionType;
    int16_t (*updater)(uint16_t refNum);
};

constexpr KindUpdate kKindUpdates[] = {
    {ResTypeOf("SkDr"), ResTypeOf("DrgI"), ResTypeOf("DrVe"), UpdateDrKind},
    {ResTypeOf("SkAc"), ResTypeOf("AccI"), ResTypeOf("AcVe"), UpdateAccessories},
    {ResTypeOf("SkFd"), ResTypeOf("Fd_I"), ResTypeOf("FdVe"), UpdateFdKind},
    {ResTypeOf("SkFs"), ResTypeOf("FsTI"), ResTypeOf("FiVe"), UpdateFish},
    {ResTypeOf("SkPl"), ResTypeOf("PlTI"), ResTypeOf("PlVe"), UpdatePlKind},
    {ResTypeOf("SkMr"), 0, ResTypeOf("SmVe"), UpdateMrKind},
    {ResTypeOf("Skel"), 0, ResTypeOf("SkVe"), UpdateAquarium},
};

}  // namespace

int UpdateContentFile(uint32_t kind, const char *path) {
    specialFishId = 0;
    // A flag that cannot be read is no flag that is not set: the records of a
    // converted file would be taken for new ones.
    bool pending = false;
    if (!ReadConversionPending(path, &pending)) return 0;
    if (pending) {
        if (ConvertOldRecords(1) == 0 || SetConversionPending(path, 0) == 0) return 0;
    }
    return UpdateByKind(kind, 1);
}

int UpdateByKind(uint32_t kind, uint16_t refNum) {
    for (const KindUpdate &row : kKindUpdates) {
        if (row.kind != kind) continue;
        bool current = row.infoType != 0 ? ItemNeedsUpdate(row.infoType, row.versionType) == 0
                                         : CheckVersion(row.versionType, kFileVersionId) != 0;
        if (current) return 1;
        return row.updater(refNum) == kStatusOk ? 1 : 0;
    }
    return 1;
}
