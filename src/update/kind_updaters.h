// The kind updaters: each brings one content file of its kind to version 1.5.
// For every item of the file, resources of the same type and id are taken from
// the update source (sourceRef) in place of the file's own, some records are
// extended, and the item's version resource is stamped with 150.
//
// Every updater takes the content file's reference number, which is current
// when it is entered, returns a status code (0 for success) and leaves the
// current file as it found it.
#pragma once

#include <cstdint>

// Asks for a compacting write-back of ref.
void WriteBackCompacted(uint16_t ref);

// Items with a picture: each item's picture is replaced and, outside the
// aquarium, its version stamped; then the file is written back compacted.
int16_t UpdatePlKind(uint16_t ref);
int16_t UpdateFdKind(uint16_t ref);
int16_t UpdateDrKind(uint16_t ref);
// The common pass of those: every resource of infoType names an item by its
// id. Always 0.
int16_t UpdateItems(uint16_t ref, uint32_t infoType, uint32_t pictureType, uint32_t versionType);
// Replaces (type, id) of destination by the source's. 0 without a change when
// the source lacks it; else the status of the copy.
int16_t ReplaceFromSource(int16_t id, uint32_t type, uint16_t source, uint16_t destination);

// Accessories: each accessory's picture is taken from the update source, found
// by the accessory's name or through the ornament table. The status of the
// last accessory; the file is written back compacted when it is 0.
int16_t UpdateAccessories(uint16_t ref);
// The index-th accessory (from 1).
int16_t UpdateAccessory(uint16_t ref, int16_t index);

// Fish: per fish its resources are replaced, its old pictures removed and its
// version stamped, and the file written back; then every fish and egg record is
// extended, the special fish named, and the file written back compacted.
int16_t UpdateFish(uint16_t ref);
// Updates every fish of the file, stopping at the first failure.
int16_t UpdateFishItems(uint16_t ref);
int16_t UpdateOneFish(uint16_t ref, int16_t id);
// Removes the fish's old pictures (ids id to id + 199) from the current file.
void RemoveOldFishResources(int16_t id);
// Append the record extension to every fish or egg record of the current file.
int16_t ExtendFishRecords();
int16_t ExtendEggRecords();

// The light: its record is extended and its head copied from the update source.
// The status of the lookup of the light record (nothing changes without it),
// else of its extension.
int16_t UpdateLight(uint16_t ref);
// The light and the file's version stamp; not written back. Always 0.
int16_t UpdateMrKind(uint16_t ref);
// An aquarium: the fish, then the other kinds' items without their stamps, the
// light and the file's version stamp. The status of the fish pass.
int16_t UpdateAquarium(uint16_t ref);
