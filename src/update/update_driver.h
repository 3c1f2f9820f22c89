// The update driver: finishes a record conversion left pending when the content
// file was opened, then brings the file to version 1.5 with the updater of its
// kind, unless its content is current already.
#pragma once

#include <cstdint>

// The update source, from which new resources are taken: always reference
// number 0, the first file opened.
constexpr uint16_t sourceRef = 0;
// Set while the aquarium updater runs the other kinds' updaters, which then
// leave their per-item version stamps out.
extern uint8_t aquariumMode;
// 10000 or 10200 when the fish pass met one of the two special fish, else 0.
extern int16_t specialFishId;

// Updates the content file at path, open as reference number 1, whose kind code
// is kind. 1 when it was updated or needed nothing, 0 on failure.
int UpdateContentFile(uint32_t kind, const char *path);
// Runs the updater of kind on refNum unless its content is current. 1 when the
// file is current or the updater succeeded, 0 when it failed. A kind without an
// updater counts as current.
int UpdateByKind(uint32_t kind, uint16_t refNum);
