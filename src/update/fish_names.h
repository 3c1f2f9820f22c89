// The two special fish: after their content has been updated, the fish with id
// 10000 is named "ZidiRuvo" and the fish with id 10200 "DoduroDoruvi". The name
// is written into the name of the fish information records (FshI, whose data
// begins with the name as a length-prefixed string) and given to the fish's
// FsTH and FsTI resources as their resource name.
//
// All operations work on the current file. A resource is changed by putting a
// changed copy of it in its place: the old one is removed and the file written
// back, then the copy is added under the same id and written.
#pragma once

#include <cstdint>

constexpr int16_t kZidiRuvoId = 10000;
constexpr int16_t kDoduroDoruviId = 10200;

// "ZidiRuvo" for 10000, "DoduroDoruvi" for any other id, as a Str255.
const uint8_t *SpecialFishName(int16_t fishId);

// A fish file of fishId: every FshI record gets the fish's name, and its FsTH
// and FsTI resources the name as their resource name; then refNum is written
// back compacted. 1 on success (also without FshI records, when nothing
// changes), 0 when a step failed; what was changed before stays.
int NormaliseSpecialFish(uint16_t refNum, int16_t fishId);
// An aquarium file: every FshI record whose name equals one of the two names
// without regard to the case of ASCII letters gets that name exactly, and the
// FsTH and FsTI resources of each name met get it as their resource name. 1 or
// 0 as above.
int NormaliseSpecialFishInAquarium(uint16_t refNum);
// Writes SpecialFishName(fishId) over the start of the name of each of the
// count FshI records; the bytes behind its characters keep their values. 1 or 0.
int SetFishInformationName(int16_t fishId, int16_t count);
// Gives (type, fishId) the resource name SpecialFishName(fishId). 1, or 0 when
// it is missing or cannot be replaced.
int RenameSpecialFishResource(uint32_t type, int16_t fishId);
