// The update state: what the library remembers between the host's calls about
// the update source and the one content file open at a time, and the command
// dispatcher that every export except Register and UnRegister works through.
#pragma once

#include <cstdint>
#include <iterator>

#include "platform/platform.h"
#include "resources/handles.h"
#include "support/byte_order.h"

// Reference numbers of the two files the library opens: the update source,
// opened first by Register, and the content file opened by Open.
constexpr uint16_t kSourceFile = 0;
constexpr uint16_t kContentFile = 1;

// The longest path the state holds, terminator included.
constexpr uint32_t kPathSize = 260;

// One row of the kind table: a kind code of a content file's info block, the
// type of its version resources, the type whose first resource names the item,
// and the type of the item's preview picture (0: the kind has none).
struct KindRow {
    uint32_t kind;
    uint32_t versionType;
    uint32_t infoType;
    uint32_t pictureType;
};
inline constexpr KindRow kKindTable[] = {
    {ResTypeOf("SkMr"), ResTypeOf("SmVe"), ResTypeOf("SmVe"), 0},
    {ResTypeOf("Skel"), ResTypeOf("SkVe"), ResTypeOf("SkVe"), 0},
    {ResTypeOf("SkFs"), ResTypeOf("FiVe"), ResTypeOf("FsTI"), ResTypeOf("FADP")},
    {ResTypeOf("SkPl"), ResTypeOf("PlVe"), ResTypeOf("PlTI"), ResTypeOf("PLDP")},
    {ResTypeOf("SkAc"), ResTypeOf("AcVe"), ResTypeOf("AccI"), ResTypeOf("ACDP")},
    {ResTypeOf("SkFd"), ResTypeOf("FdVe"), ResTypeOf("Fd_I"), ResTypeOf("FDDP")},
    {ResTypeOf("SkDr"), ResTypeOf("DrVe"), ResTypeOf("DrgI"), ResTypeOf("DRDP")},
};
constexpr int32_t kKindRows = static_cast<int32_t>(std::size(kKindTable));

struct UpdateState {
    int32_t kindIndex;       // row of the kind table chosen by Open; -1 for none
    int32_t noUpdateNeeded;  // 1 when the file is at version 1.5 already
    int32_t pictureFound;    // 1 when Open found the item's own picture
    Handle itemPicture;      // the item's picture (the Resource Manager's)
    Handle defaultPicture;   // PICT 264 of the update source (the Resource Manager's)
    int16_t itemId;          // id of the file's first info resource
    char verdictText[256];   // what List gives for code 100
    char contentFilePath[kPathSize];
    char sourcePath[kPathSize];
    void *moduleInstance;       // the library's own module
    MutexHandle instanceMutex;  // the single-instance lock while it is held
};
extern UpdateState updateState;

// Commands of DoCommand.
constexpr int32_t kCommandPath = 0;      // sub-code 7 stores the source path, 6 copies it out
constexpr int32_t kCommandReset = 1;     // resets the state
constexpr int32_t kCommandEvaluate = 2;  // judges the content file at the text's path
constexpr int32_t kCommandList = 3;      // sub-codes 100, 200, 300 as List
constexpr int32_t kCommandPicture = 4;   // sub-code 200 gives the picture to show
constexpr int32_t kCommandUpdate = 5;    // updates the content file

// Sub-codes.
constexpr int32_t kStoreSourcePath = 7;
constexpr int32_t kCopySourcePath = 6;
constexpr int32_t kListVerdict = 100;
constexpr int32_t kListPicture = 200;
constexpr int32_t kListNeedsUpdate = 300;

// Runs command with sub-code on the update state. text is the command's text
// (a path, or the buffer a text is copied into), picture receives the Handle of
// command 4. reserved is not read.
int32_t DoCommand(int32_t command, int32_t subCode, int32_t reserved, char *text, Handle *picture);

// The library's entry point: the system calls it with the library's module when
// it loads the library (and for other reasons); it keeps the module. Always 1.
int32_t LibraryEntry(void *module, uint32_t reason, void *reserved);
