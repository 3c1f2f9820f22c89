// The conversion log: a resource of the content file that lists the records a
// conversion has rebuilt in the new layout while the file still waits for its
// conversion to finish.
//
// A file whose conversion stopped part-way holds records of both layouts, and
// nothing in a record tells which. The log does: each record is entered before
// its old version is removed, the entry reaches the disk together with that
// removal, and a later conversion skips every record the log holds. The log is
// removed when the conversion of the whole file has succeeded.
//
// Its data is a run of 6-byte entries: the record's type (32-bit) and id
// (16-bit), little-endian. Trailing bytes short of an entry are ignored; an
// entry of type 0 names no record.
//
// All operations work on the current file.
#pragma once

#include <cstdint>

#include "resources/handles.h"
#include "support/byte_order.h"

constexpr uint32_t kConversionLogType = ResTypeOf("CvLg");
constexpr int16_t kConversionLogId = 128;

// *log receives the current file's log (its first resource of the log's type),
// or null when it has none. False when it has one that cannot be loaded.
bool FindConversionLog(Handle *log);
// Whether the log (null for none) holds (type, id).
bool LogHolds(Handle log, uint32_t type, int16_t id);
// Enters (type, id) in the log, making the log when *log is null. False when the
// log could not be changed; its content is then as it was.
bool LogRecord(Handle *log, uint32_t type, int16_t id);
// Takes back the entry that LogRecord made last.
void UnlogLastRecord(Handle log);
// Removes the log from the current file, when it has one. False when a log
// stays: it could not be loaded or removed.
bool DropConversionLog();
