#include "update/update_driver.h"

#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "update/kind_updaters.h"
#include "update/record_converters.h"
#include "update/resource_helpers.h"
#include "update/version_resources.h"

// Each update sets them before they are read.
uint16_t sourceRef;
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
    bool aquarium;  // the updater runs the other kinds' updaters
    bool fish;      // the updater may meet a special fish
    int16_t (*updater)(uint16_t refNum);
};

constexpr KindUpdate kKindUpdates[] = {
    {ResTypeOf("SkDr"), ResTypeOf("DrgI"), ResTypeOf("DrVe"), false, false, UpdateDrKind},
    {ResTypeOf("SkAc"), ResTypeOf("AccI"), ResTypeOf("AcVe"), false, false, UpdateAccessories},
    {ResTypeOf("SkFd"), ResTypeOf("Fd_I"), ResTypeOf("FdVe"), false, false, UpdateFdKind},
    {ResTypeOf("SkFs"), ResTypeOf("FsTI"), ResTypeOf("FiVe"), false, true, UpdateFish},
    {ResTypeOf("SkPl"), ResTypeOf("PlTI"), ResTypeOf("PlVe"), false, false, UpdatePlKind},
    {ResTypeOf("SkMr"), 0, ResTypeOf("SmVe"), false, false, UpdateMrKind},
    {ResTypeOf("Skel"), 0, ResTypeOf("SkVe"), true, true, UpdateAquarium},
};

}  // namespace

int UpdateContentFile(uint32_t kind, const char *path) {
    sourceRef = 0;
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
    aquariumMode = 0;
    for (const KindUpdate &row : kKindUpdates) {
        if (row.kind != kind) continue;
        aquariumMode = row.aquarium;
        if (row.fish) specialFishId = 0;
        bool current = row.infoType != 0 ? ItemNeedsUpdate(row.infoType, row.versionType) == 0
                                         : CheckVersion(row.versionType, kFileVersionId) != 0;
        if (current) return 1;
        return row.updater(refNum) == kStatusOk ? 1 : 0;
    }
    return 1;
}
