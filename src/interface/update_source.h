// Finding the update source "Updater.rez": in the hard-disk folders the
// registry names, else on the product's CD, asking for the disc until it is in
// the drive or the user cancels.
#pragma once

#include <cstdint>

// 1 with the full path of a readable update source in path (kPathSize bytes);
// 0 when there is none or the user cancelled. The disc prompts are owned by
// owner.
int32_t LocateUpdateSource(void *owner, char *path);
// 1 with the root ("e:\") of the first CD-ROM drive in letter order in root
// (at least 4 bytes); 0 when there is none.
int32_t FindCdDrive(char *root);
// 1 when the drive root can be read (a disc is in the drive), without the
// system's own box asking for one.
int32_t IsDiscInDrive(const char *root);
