// The guarded Resource Manager calls of the content update. Each one makes its
// call (or a short sequence of calls), takes ResourceError at once (which resets
// it) and hands back a status code of the update's own: 0 for success, a small
// positive number for a failure. Every operation leaves the current file as it
// found it, also when it fails.
#pragma once

#include <cstdint>

#include "resources/handles.h"

// Makes a file current for the life of the object, then the one that was.
class CurrentFileScope {
  public:
    explicit CurrentFileScope(uint16_t refNum);
    ~CurrentFileScope();
    CurrentFileScope(const CurrentFileScope &) = delete;
    CurrentFileScope &operator=(const CurrentFileScope &) = delete;

  private:
    uint16_t saved_;
};

// Status codes.
constexpr int16_t kStatusOk = 0;
constexpr int16_t kStatusNotFound = 3;     // the lookup found nothing
constexpr int16_t kStatusUnreadable = 53;  // listed, but its data cannot be read
constexpr int16_t kStatusLowId = 24;       // ids below 128 are refused without a lookup
constexpr int16_t kStatusCurrent = 130;    // the version is already current

// The lowest id that the guarded lookups by id look for.
constexpr int16_t kLowestGuardedId = 128;

// The status for a Resource Manager error code: the translation table's value,
// 0 for 0 and -58, and the code itself for every code the table does not hold.
int16_t MapResourceError(int16_t error);

// Lookups. *out receives the Handle (null when nothing was found). The result is
// the translated error, else 3 when nothing was found, else 0. The lookups by id
// refuse ids below 128 with 24 and *out null, without a lookup. GetOneResource-
// Checked and GetNamedResourceChecked give 53 for a resource that the current
// file lists but that cannot be loaded.
int16_t GetResourceChecked(Handle *out, uint32_t type, int16_t id);
int16_t GetOneResourceChecked(Handle *out, uint32_t type, int16_t id);
int16_t GetNamedResourceChecked(Handle *out, uint32_t type, const uint8_t *name);
int16_t GetOneIndexedResourceChecked(Handle *out, uint32_t type, int16_t index);

// A resource's id, or its name (a Str255 into 256 bytes); the outputs are
// written only on success.
int16_t GetResourceIdChecked(int16_t *id, Handle h);
int16_t GetResourceNameChecked(uint8_t *name, Handle h);

// Adds h to the current file as (type, id, name); name is a Str255, length 0 for
// none.
int16_t AddResourceChecked(Handle h, uint32_t type, int16_t id, const uint8_t *name);
int16_t MarkChangedChecked(Handle h);
// Marks h changed and writes its data into its file; the first failure ends it.
int16_t SaveResourceData(Handle h);
// The ids of the count resources of type in the current file, in index order,
// in a block from NewPointer; null when one cannot be found or there is no
// memory. Every resource it loads is released again.
int16_t *CollectResourceIds(uint32_t type, int16_t count);
// Copies the length-prefixed string at the start of record's data into name
// (256 bytes), as far as the record holds it; an empty record gives "".
void LeadingName(Handle record, uint8_t *name);
// Lets go of a resource Handle of type. A Handle in no file's slot (a write
// over its old place lets go of the file's unchanged resources) belongs to its
// holder and is freed here. One that stays in its slot because its change could
// not be written goes to the disk with a write-back of its file first.
void ReleaseOrDispose(Handle h, uint32_t type);

// Removes h from its file and frees it; when it cannot be removed it is released
// instead. The result is the Resource Manager's own code, untranslated.
int16_t RemoveResourceChecked(Handle h);

// Takes h from the file it came from and adds it to the destination file as
// (type, id, name), writing its data there. When the add fails h is freed. The
// result is the add's status. After success h is the destination's resource.
int16_t MoveResourceInto(Handle h, uint32_t type, int16_t id, const uint8_t *name,
                         uint16_t destination);
// Copies (type, id) with its name from the source file into the destination
// file, replacing what the destination held under that type and id.
int16_t CopyOneResource(int16_t id, uint32_t type, uint16_t source, uint16_t destination);
// Copies every (type, id) with first <= id <= last that the source file holds.
// Ids the source lacks are skipped; the first other failure ends the copy and
// is the result.
int16_t CopyResourceRange(int16_t first, int16_t last, uint32_t type, uint16_t source,
                          uint16_t destination);
