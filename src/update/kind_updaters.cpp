#include "update/kind_updaters.h"

#include <cstring>
#include <initializer_list>

#include "resources/resource_manager.h"
#include "support/byte_order.h"
#include "support/strings.h"
#include "update/resource_helpers.h"
#include "update/update_driver.h"
#include "update/version_resources.h"

namespace {

constexpr uint32_t kAccessoryHead = ResTypeOf("AccH");
constexpr uint32_t kAccessoryPicture = ResTypeOf("ACDP");
constexpr uint32_t kAccessoryVersion = ResTypeOf("AcVe");
constexpr uint32_t kLightRecord = ResTypeOf("Ligt");
constexpr uint32_t kLightHead = ResTypeOf("LigH");
constexpr int16_t kLightId = 400;
constexpr int16_t kFileVersionId = 128;

// The light record's extension: a 16-bit, a 32-bit, a 32-bit, a 16-bit and a
// 32-bit field, all 0.
constexpr int32_t kLightExtensionSize = 16;

// Accessories whose picture is not found by their name, and the id of the
// picture the update source holds for them. The first matching row counts.
struct Ornament {
    const char *name;
    int16_t pictureId;
};
constexpr Ornament kOrnaments[] = {
    {"Pride of Pele II", 128},   {"Bogwood", 129},
    {"Japanese Name Only", 130}, {"Moai Statue", 131},
    {"The Thinker", 132},        {"Grand Piano", 133},
    {"Heavenly Sphere", 134},    {"Japanese Name Only", 135},
    {"Japanese Name Only", 136}, {"Venus de Milo", 137},
    {"Japanese Name Only", 138}, {"Mechaparts", 139},
    {"Japanese Name Only", 140}, {"Erawan", 141},
    {"Kinkaku-ji", 142},         {"Kinkaku-ji", 143},
    {"Pride of Pele", 200},
};

int16_t UpdateItemsAndWriteBack(uint16_t ref, const char (&info)[5], const char (&picture)[5],
                                const char (&version)[5]) {
    int16_t status = UpdateItems(ref, ResTypeOf(info), ResTypeOf(picture), ResTypeOf(version));
    if (status == kStatusOk) WriteBackCompacted(ref);
    return status;
}

// Stamps the file's own version resource current.
int16_t StampFile(uint32_t versionType) {
    const int16_t stamped = StampVersion(versionType, kFileVersionId, kCurrentVersion);
    return stamped == kStatusLowId ? kStatusOk : stamped;
}

// The ornament table's picture id for name, or 0 when no row names it.
int16_t OrnamentPicture(const uint8_t *name) {
    char text[256];
    Str255ToC(name, text);
    for (const Ornament &row : kOrnaments) {
        if (std::strcmp(text, row.name) == 0) return row.pictureId;
    }
    return 0;
}

// Puts picture (a resource of the update source) in place of the accessory's
// own picture in ref, under the accessory's id and name.
int16_t TakePicture(uint16_t ref, Handle picture, int16_t id, const uint8_t *name) {
    UseResourceFile(ref);
    Handle old = nullptr;
    if (GetOneResourceChecked(&old, kAccessoryPicture, id) == kStatusOk) RemoveResourceChecked(old);
    int16_t status = MoveResourceInto(picture, kAccessoryPicture, id, name, ref);
    if (status == kStatusOk) ReleaseOrDispose(picture, kAccessoryPicture);
    return status;
}

}  // namespace

void WriteBackCompacted(uint16_t ref) {
    CurrentFileScope scope(ref);
    SetResourceCompaction(3);
    UpdateResourceFile(ref);
}

int16_t ReplaceFromSource(int16_t id, uint32_t type, uint16_t source, uint16_t destination) {
    CurrentFileScope scope(source);
    Handle fresh = nullptr;
    const int16_t found = GetOneResourceChecked(&fresh, type, id);
    // A resource missing from the source is skipped; its status, 131, shows no message.
    if (found == kStatusNotFound || found == kStatusLowId) return kStatusOk;
    // The old resource goes only once the new one is in hand, and the new one
    // only in place of an old one that could be removed.
    if (found != kStatusOk) return found;
    UseResourceFile(destination);
    Handle old = nullptr;
    int16_t status = GetOneResourceChecked(&old, type, id);
    if (status == kStatusOk) status = MapResourceError(RemoveResourceChecked(old));
    if (status != kStatusOk && status != kStatusNotFound) {
        ReleaseOrDispose(fresh, type);
        return status;
    }
    return CopyOneResource(id, type, source, destination);
}

int16_t UpdateItems(uint16_t ref, uint32_t infoType, uint32_t pictureType, uint32_t versionType) {
    uint16_t count = CountOneResources(infoType);
    for (uint32_t index = 1; index <= count && index <= INT16_MAX; ++index) {
        // An item that is listed but cannot be loaded fails the update: left
        // out, it would never be updated once the file is stamped current.
        Handle item = nullptr;
        const int16_t loaded =
            GetOneIndexedResourceChecked(&item, infoType, static_cast<int16_t>(index));
        if (loaded != kStatusOk) return kStatusUnreadable;
        int16_t id = 0;
        GetResourceInfo(item, &id, nullptr, nullptr);
        ReleaseResource(item);
        // An item whose new resource cannot be read or put in place stays
        // unstamped, and the update fails, so that the file can be put back and
        // updated again.
        const int16_t status = ReplaceFromSource(id, pictureType, sourceRef, ref);
        if (status != kStatusOk) return status;
        if (aquariumMode != 0) continue;
        const int16_t stamped = StampVersion(versionType, id, kCurrentVersion);
        if (stamped != kStatusOk && stamped != kStatusLowId) return stamped;
    }
    return kStatusOk;
}

int16_t UpdatePlKind(uint16_t ref) {
    return UpdateItemsAndWriteBack(ref, "PlTI", "PLDP", "PlVe");
}

int16_t UpdateFdKind(uint16_t ref) {
    return UpdateItemsAndWriteBack(ref, "Fd_I", "FDDP", "FdVe");
}

int16_t UpdateDrKind(uint16_t ref) {
    return UpdateItemsAndWriteBack(ref, "DrgI", "DRDP", "DrVe");
}

int16_t UpdateAccessories(uint16_t ref) {
    uint16_t count = CountOneResources(kAccessoryHead);
    int16_t status = kStatusOk;
    for (uint32_t index = 1; status == kStatusOk && index <= count && index <= INT16_MAX; ++index)
        status = UpdateAccessory(ref, static_cast<int16_t>(index));
    if (status == kStatusOk) WriteBackCompacted(ref);
    return status;
}

int16_t UpdateAccessory(uint16_t ref, int16_t index) {
    CurrentFileScope scope(ref);
    Handle accessory = nullptr;
    int16_t status = GetOneIndexedResourceChecked(&accessory, kAccessoryHead, index);
    if (status != kStatusOk) return status;
    int16_t id = 0;
    GetResourceIdChecked(&id, accessory);
    uint8_t name[256];
    LeadingName(accessory, name);

    UseResourceFile(sourceRef);
    // A picture that is there but cannot be had fails the update; only one
    // that is not there is looked for in the ornament table, or left out.
    Handle picture = nullptr;
    status = GetNamedResourceChecked(&picture, kAccessoryPicture, name);
    if (status == kStatusOk) {
        status = TakePicture(ref, picture, id, name);
    } else if (status == kStatusNotFound) {
        const int16_t pictureId = OrnamentPicture(name);
        status = pictureId == 0 ? kStatusNotFound
                                : GetOneResourceChecked(&picture, kAccessoryPicture, pictureId);
        if (status == kStatusOk) {
            status = TakePicture(ref, picture, id, name);
        } else if (status == kStatusNotFound) {
            status = kStatusOk;  // no picture to take
        }
    }
    ReleaseOrDispose(accessory, kAccessoryHead);
    UseResourceFile(ref);
    if (aquariumMode == 0 && status == kStatusOk) {
        const int16_t stamped = StampVersion(kAccessoryVersion, id, kCurrentVersion);
        if (stamped != kStatusLowId) status = stamped;
    }
    return status;
}

int16_t UpdateLight(uint16_t ref) {
    Handle light = nullptr;
    int16_t status = GetOneResourceChecked(&light, kLightRecord, kLightId);
    if (status != kStatusOk) return status;
    Handle extension = NewHandle(kLightExtensionSize);
    status = extension == nullptr ? MapResourceError(kMemoryFull)
                                  : MapResourceError(AppendHandle(extension, light));
    if (status == kStatusOk) status = SaveResourceData(light);
    DisposeHandle(extension);
    ReleaseOrDispose(light, kLightRecord);
    const int16_t copied = CopyOneResource(kLightId, kLightHead, sourceRef, ref);
    return status != kStatusOk || copied == kStatusNotFound ? status : copied;
}

int16_t UpdateMrKind(uint16_t ref) {
    // A light record left short would be stamped current and read in the new
    // layout all the same: the update fails instead, and the file is put back.
    const int16_t status = UpdateLight(ref);
    if (status != kStatusOk && status != kStatusNotFound) return status;
    return StampFile(ResTypeOf("SmVe"));
}

int16_t UpdateAquarium(uint16_t ref) {
    aquariumMode = 1;
    // Each part stops the update at its failure: a part left undone would be
    // stamped current with the rest, and never updated again.
    int16_t status = UpdateFish(ref);
    for (int16_t (*part)(uint16_t) : {UpdatePlKind, UpdateAccessories, UpdateFdKind, UpdateDrKind})
        if (status == kStatusOk) status = part(ref);
    if (status == kStatusOk) {
        status = UpdateLight(ref);
        if (status == kStatusNotFound) status = kStatusOk;  // an aquarium without lights
    }
    if (status == kStatusOk) status = StampFile(ResTypeOf("SkVe"));
    aquariumMode = 0;
    return status;
}
