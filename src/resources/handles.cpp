#include "resources/handles.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

int32_t memoryError = kNoError;

// Where a record is kept in the registry's index: a table of record pointers,
// open addressing with linear probing, at most half full.
struct IndexSlot {
    HandleRecord *byHandle;
    HandleRecord *byNumber;
};

// The registry lives on blocks of the pool. When the pool is destroyed those
// blocks are gone, so the registry remembers the pool generation it was built on
// and starts over, empty, whenever that is no longer the pool in use. Pool
// generations count from 1, so a registry of generation 0 belongs to no pool.
//
// Beside the list, an index finds a record by its Handle and by its number in
// constant time. The index is only a help: when there is no memory to grow it,
// it is dropped and lookups walk the list until it can be built again.
struct Registry {
    ListHeader list = {nullptr, nullptr};
    uint32_t generation = 0;
    uint32_t lastNumber = 0;
    bool numbersWrapped = false;
    uint32_t records = 0;
    IndexSlot *index = nullptr;  // capacity entries, or null
    uint32_t capacity = 0;       // a power of two
    bool indexComplete = false;  // every record of the list is in the index
};

Registry registry;

constexpr uint32_t kSmallestIndex = 64;

// The registry as it stands for the current pool.
ListHeader *Records() {
    if (!MemoryPoolExists() || registry.generation != MemoryPoolGeneration()) {
        registry = Registry{};
        registry.generation = MemoryPoolGeneration();
    }
    return &registry.list;
}

uint32_t Spread(uint64_t key, uint32_t capacity) {
    return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
}
uint32_t HandleSlotOf(Handle h, uint32_t capacity) {
    return Spread(reinterpret_cast<uintptr_t>(h) >> 3, capacity);
}
uint32_t NumberSlotOf(uint32_t number, uint32_t capacity) {
    return Spread(number, capacity);
}

void IndexPut(IndexSlot *index, uint32_t capacity, HandleRecord *record) {
    uint32_t at = HandleSlotOf(record->handle, capacity);
    while (index[at].byHandle != nullptr)
        at = (at + 1) & (capacity - 1);
    index[at].byHandle = record;
    at = NumberSlotOf(record->number, capacity);
    while (index[at].byNumber != nullptr)
        at = (at + 1) & (capacity - 1);
    index[at].byNumber = record;
}

// Takes record out of one probe sequence, moving later members of the run back
// so that no lookup meets a gap before its record.
template <typename Field, typename Home>
void IndexErase(IndexSlot *index, uint32_t capacity, HandleRecord *record, Field field, Home home) {
    uint32_t mask = capacity - 1;
    uint32_t at = home(record);
    while (index[at].*field != record)
        at = (at + 1) & mask;
    uint32_t gap = at;
    for (uint32_t next = (gap + 1) & mask; index[next].*field != nullptr;
         next = (next + 1) & mask) {
        uint32_t want = home(index[next].*field);
        // The member at next may fill the gap when its home does not lie in (gap, next].
        bool between = gap < next ? (want > gap && want <= next) : (want > gap || want <= next);
        if (!between) {
            index[gap].*field = index[next].*field;
            gap = next;
        }
    }
    index[gap].*field = nullptr;
}

void DropIndex() {
    if (registry.index != nullptr) MemoryPoolFree(registry.index);
    registry.index = nullptr;
    registry.capacity = 0;
    registry.indexComplete = false;
}

// Builds the index anew for the records of the list and `records` records in
// all. False when there is no memory; the index is then as it was.
bool RebuildIndex(uint32_t records) {
    uint32_t capacity = kSmallestIndex;
    while (capacity < 2 * records && capacity < 0x40000000u)
        capacity *= 2;
    if (uint64_t{capacity} * sizeof(IndexSlot) > MemoryPoolMaxBlock) capacity = 0;
    auto *index =
        capacity == 0
            ? nullptr
            : static_cast<IndexSlot *>(MemoryPoolAllocate(capacity * uint32_t{sizeof(IndexSlot)}));
    if (index == nullptr) return false;
    DropIndex();
    for (ListNode *node = registry.list.first; node != nullptr; node = node->next)
        IndexPut(index, capacity, reinterpret_cast<HandleRecord *>(node));
    registry.index = index;
    registry.capacity = capacity;
    registry.indexComplete = true;
    return true;
}

// The record whose key (its Handle or its number) is wanted, found through that
// key's probe runs of the index. Every record is in the index, which exists
// whenever the registry holds one.
template <typename Key>
HandleRecord *FindIndexed(HandleRecord *IndexSlot::*field, Key HandleRecord::*key, Key wanted,
                          uint32_t (*slotOf)(Key, uint32_t)) {
    Records();
    if (!registry.indexComplete) return nullptr;
    for (uint32_t at = slotOf(wanted, registry.capacity); registry.index[at].*field != nullptr;
         at = (at + 1) & (registry.capacity - 1)) {
        if ((registry.index[at].*field)->*key == wanted) return registry.index[at].*field;
    }
    return nullptr;
}

HandleRecord *FindRecord(Handle h) {
    return FindIndexed(&IndexSlot::byHandle, &HandleRecord::handle, h, HandleSlotOf);
}

HandleRecord *FindRecordByNumber(uint32_t number) {
    return FindIndexed(&IndexSlot::byNumber, &HandleRecord::number, number, NumberSlotOf);
}

// The registry lookup of the memory operations: an unknown Handle is reported.
// Null is no Handle at all and is not looked for.
HandleRecord *LookUp(Handle h) {
    if (h == nullptr) return nullptr;
    HandleRecord *record = FindRecord(h);
    if (record == nullptr) ReportError(kErrorLookupUnknown, 0);
    return record;
}

bool NumberInUse(uint32_t number) {
    return FindRecordByNumber(number) != nullptr;
}

// A nonzero number that no live record holds. Numbers count up; once they have
// wrapped round, each candidate is checked against the registry.
uint32_t FreshNumber() {
    for (;;) {
        ++registry.lastNumber;
        if (registry.lastNumber == 0) {
            registry.numbersWrapped = true;
            continue;
        }
        if (!registry.numbersWrapped || !NumberInUse(registry.lastNumber)) {
            return registry.lastNumber;
        }
    }
}

// Enters a record in the list and the index. The index grows by doubling when
// it would be more than half full, and is built again after it was dropped.
// When that needs memory that cannot be had, the record is not entered and the
// result is false.
bool EnterRecord(HandleRecord *record, Handle h, int32_t size, uint32_t number) {
    record->handle = h;
    record->size = size;
    record->number = number;
    // Once numbers have wrapped round, a slot may still hold the number of a
    // Handle long gone; such a number is taken as possibly in a slot.
    record->inSlot = registry.numbersWrapped;
    ListHeader *list = Records();
    bool indexed = registry.indexComplete && 2 * (registry.records + 1) <= registry.capacity;
    if (!indexed && !RebuildIndex(registry.records + 1)) return false;
    IndexPut(registry.index, registry.capacity, record);
    ListInsert(list, &record->link, list->last);
    ++registry.records;
    return true;
}

void RemoveRecord(HandleRecord *record, bool keepIndex = false) {
    uint32_t capacity = registry.capacity;
    IndexErase(registry.index, capacity, record, &IndexSlot::byHandle,
               [capacity](const HandleRecord *r) { return HandleSlotOf(r->handle, capacity); });
    IndexErase(registry.index, capacity, record, &IndexSlot::byNumber,
               [capacity](const HandleRecord *r) { return NumberSlotOf(r->number, capacity); });
    ListRemove(Records(), &record->link);
    // An empty registry holds no memory of the pool; the index comes back with
    // the next record.
    if (--registry.records == 0 && !keepIndex) DropIndex();
}

}  // namespace

void *NewPointer(uint32_t size) {
    void *block = MemoryPoolAllocate(size);
    memoryError = block != nullptr ? kNoError : kMemoryFull;
    return block;
}

void DisposePointer(void *block) {
    if (block == nullptr) {
        memoryError = kMemoryNilFree;
        return;
    }
    MemoryPoolFree(block);
    memoryError = kNoError;
}

int32_t MemoryError() {
    return memoryError;
}

Handle NewHandle(int32_t size) {
    Records();
    Handle h = static_cast<Handle>(MemoryPoolAllocate(sizeof(uint8_t *)));
    if (h == nullptr) {
        memoryError = kMemoryFull;
        return nullptr;
    }
    if (size > 0) {
        uint8_t *data = static_cast<uint8_t *>(MemoryPoolAllocate(static_cast<uint32_t>(size)));
        if (data == nullptr) {
            MemoryPoolFree(h);
            memoryError = kMemoryFull;
            return nullptr;
        }
        *h = data;
    } else {
        // An empty Handle: no data block, and its size reads 0.
        size = 0;
    }
    memoryError = kNoError;

    HandleRecord *record = static_cast<HandleRecord *>(MemoryPoolAllocate(sizeof(HandleRecord)));
    if (record == nullptr) {
        // The Handle still serves; it is simply not known to the registry.
        ReportError(kErrorHandleRecord, size);
        return h;
    }
    if (!EnterRecord(record, h, size, FreshNumber())) {
        MemoryPoolFree(record);
        ReportError(kErrorHandleRecord, size);
    }
    return h;
}

void DisposeHandle(Handle h) {
    HandleRecord *record = LookUp(h);
    if (record != nullptr) {
        RemoveRecord(record);
        MemoryPoolFree(record);
    } else if (h != nullptr) {
        ReportError(kErrorRemoveUnknown, 0);
    }
    if (h != nullptr) {
        if (*h != nullptr) MemoryPoolFree(*h);
        MemoryPoolFree(h);
    }
    memoryError = kNoError;
}

void DisposePictureHandle(Handle h) {
    if (h != nullptr && *h != nullptr) {
        // A registered Handle too small for a picture record has no bitmap to free.
        HandleRecord *record = FindRecord(h);
        if (record == nullptr || record->size >= static_cast<int32_t>(sizeof(PictureRecord))) {
            // The record goes with the Handle, so its fields are left as they are.
            PictureRecord *picture = reinterpret_cast<PictureRecord *>(*h);
            if (picture->bitmap != nullptr) DisposePointer(picture->bitmap);
        }
    }
    DisposeHandle(h);
}

int32_t GetHandleSize(Handle h) {
    HandleRecord *record = LookUp(h);
    return record != nullptr ? record->size : 0;
}

int16_t AppendHandle(Handle source, Handle destination) {
    HandleRecord *sourceRecord = LookUp(source);
    HandleRecord *destinationRecord = LookUp(destination);
    int32_t sourceSize = sourceRecord != nullptr ? sourceRecord->size : 0;
    int32_t destinationSize = destinationRecord != nullptr ? destinationRecord->size : 0;
    if (sourceSize <= 0 || destinationSize <= 0 || *source == nullptr || *destination == nullptr) {
        return kAppendEmpty;
    }

    uint64_t total = static_cast<uint64_t>(sourceSize) + static_cast<uint64_t>(destinationSize);
    if (total > MemoryPoolMaxBlock) {
        memoryError = kMemoryFull;
        return static_cast<int16_t>(kMemoryFull);
    }
    // Everything that can fail is allocated before anything is changed, so a
    // failure leaves both Handles and the registry as they were.
    uint8_t *data = static_cast<uint8_t *>(NewPointer(static_cast<uint32_t>(total)));
    if (data == nullptr) return static_cast<int16_t>(kMemoryFull);
    HandleRecord *record = static_cast<HandleRecord *>(MemoryPoolAllocate(sizeof(HandleRecord)));
    if (record == nullptr) {
        MemoryPoolFree(data);
        memoryError = kMemoryFull;
        return static_cast<int16_t>(kMemoryFull);
    }

    std::memcpy(data, *destination, static_cast<size_t>(destinationSize));
    std::memcpy(data + destinationSize, *source, static_cast<size_t>(sourceSize));

    // The new record keeps the destination's number: map blocks name the Handle by it.
    uint32_t number = destinationRecord->number;
    bool inSlot = destinationRecord->inSlot;
    RemoveRecord(destinationRecord, true);
    MemoryPoolFree(destinationRecord);
    MemoryPoolFree(*destination);
    *destination = data;
    // MemoryError is 0 from the allocation of the joined block. The index kept
    // the destination's place, so entering the new record needs no memory.
    EnterRecord(record, destination, static_cast<int32_t>(total), number);
    record->inSlot = record->inSlot || inSlot;
    return 0;
}

void LockHandle(Handle h) {
    (void)h;
}

void UnlockHandle(Handle h) {
    (void)h;
}

void *InsertBytes(void **block, const void *bytes, uint32_t oldSize, uint32_t offset,
                  uint32_t count) {
    if (offset > oldSize || static_cast<uint64_t>(oldSize) + count > MemoryPoolMaxBlock) {
        return nullptr;
    }
    uint8_t *old = static_cast<uint8_t *>(*block);
    if (old == nullptr && oldSize > 0) return nullptr;
    uint8_t *grown = static_cast<uint8_t *>(NewPointer(oldSize + count));
    if (grown == nullptr) return nullptr;
    // Copies of no bytes are harmless, from a null block too.
    std::copy_n(old, offset, grown);
    // Without bytes the inserted stretch stays zero-filled.
    if (bytes != nullptr) std::copy_n(static_cast<const uint8_t *>(bytes), count, grown + offset);
    std::copy_n(old + offset, oldSize - offset, grown + offset + count);
    if (old != nullptr) DisposePointer(old);
    *block = grown;
    return grown;
}

void *CutBytes(void **block, uint32_t offset, uint32_t oldSize, uint32_t count) {
    uint8_t *old = static_cast<uint8_t *>(*block);
    if (count > oldSize || offset > oldSize - count || (old == nullptr && oldSize > 0)) {
        return nullptr;
    }
    uint8_t *shrunk = static_cast<uint8_t *>(NewPointer(oldSize - count));
    if (shrunk == nullptr) {
        ReportError(kErrorCutBytes, static_cast<int32_t>(oldSize - count));
        return nullptr;
    }
    std::copy_n(old, offset, shrunk);
    std::copy_n(old + offset + count, oldSize - offset - count, shrunk + offset);
    if (old != nullptr) DisposePointer(old);
    *block = shrunk;
    return shrunk;
}

void StartHandleRegistry() {
    Records();
}

uint32_t HandleNumber(Handle h) {
    if (h == nullptr) return 0;
    HandleRecord *record = FindRecord(h);
    return record != nullptr ? record->number : 0;
}

Handle HandleFromNumber(uint32_t number) {
    if (number == 0) return nullptr;
    HandleRecord *record = FindRecordByNumber(number);
    return record != nullptr ? record->handle : nullptr;
}

uint32_t SlotNumber(Handle h) {
    if (h == nullptr) return 0;
    HandleRecord *record = FindRecord(h);
    if (record == nullptr) return 0;
    record->inSlot = true;
    return record->number;
}

bool MayBeInSlot(Handle h) {
    HandleRecord *record = h != nullptr ? FindRecord(h) : nullptr;
    return record != nullptr && record->inSlot;
}

uint32_t RegisteredHandleCount() {
    Records();
    return registry.records;
}
