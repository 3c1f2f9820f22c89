// Building a content record in its new layout from the old record's data.
#pragma once

#include "resources/handles.h"
#include "update/record_layouts.h"

// A new Handle holding the record of old (a record in the old layout) rebuilt
// in the new layout: zero-filled, and every field copied into place.
//
// Reading stays inside the old record. A record is rebuilt only when it holds
// every field its layout reads, with a value its field can hold; otherwise it
// is refused as a whole (null), so that a damaged record is never half
// converted and stays in the file as it was. Refused are:
//  - a record that ends before a field of its layout ends;
//  - a string whose length byte claims more characters than its field holds;
//  - a text without its zero inside its old field (for a text that ends the
//    record: inside the record);
//  - an entry count below 0, or one whose entries do not all lie in the record.
// A readable text longer than its new field allows is cut so that the field
// still ends with a zero; every copy is bounded by its new field.
//
// Null as well when there is no memory.
Handle BuildNewRecord(const RecordLayout &layout, Handle old);
