#include "resources/handles.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "support/memory_pool.h"
#include "support/report_error.h"

namespace {

int32_t memoryError = kNoError;

// The registry lives on blocks of the pool. When the pool is destroyed those
// blocks are gone, so the registry remembers the pool generation it was built on
// and starts over, empty, whenever that is no longer the pool in use. Pool
// generations count from 1, so a registry of generation 0 belongs to no pool.
struct Registry {
    ListHeader list = {nullptr, nullptr};
    uint32_t generation = 0;
    uint32_t lastNumber = 0;
    bool numbersWrapped = false;
};

Registry registry;

// The registry as it stands for the current pool.
ListHeader *Records() {
    if (!MemoryPoolExists() || registry.generation != MemoryPoolGeneration()) {
        registry = Registry{};
        registry.generation = MemoryPoolGeneration();
    }
    return &registry.list;
}

HandleRecord *FindRecord(Handle h) {
    for (ListNode *node = Records()->first; node != nullptr; node = node->next) {
        HandleRecord *record = reinterpret_cast<HandleRecord *>(node);
        if (record->handle == h) return record;
    }
    return nullptr;
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
    for (ListNode *node = Records()->first; node != nullptr; node = node->next) {
        if (reinterpret_cast<HandleRecord *>(node)->number == number) return true;
    }
    return false;
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

void EnterRecord(HandleRecord *record, Handle h, int32_t size, uint32_t number) {
    record->handle = h;
    record->size = size;
    record->number = number;
    ListHeader *list = Records();
    ListInsert(list, &record->link, list->last);
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
    EnterRecord(record, h, size, FreshNumber());
    return h;
}

void DisposeHandle(Handle h) {
    HandleRecord *record = LookUp(h);
    if (record != nullptr) {
        ListRemove(Records(), &record->link);
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
    ListRemove(Records(), &destinationRecord->link);
    MemoryPoolFree(destinationRecord);
    MemoryPoolFree(*destination);
    *destination = data;
    // MemoryError is 0 from the allocation of the joined block.
    EnterRecord(record, destination, static_cast<int32_t>(total), number);
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
    for (ListNode *node = Records()->first; node != nullptr; node = node->next) {
        HandleRecord *record = reinterpret_cast<HandleRecord *>(node);
        if (record->number == number) return record->handle;
    }
    return nullptr;
}

uint32_t RegisteredHandleCount() {
    uint32_t count = 0;
    for (ListNode *node = Records()->first; node != nullptr; node = node->next)
        ++count;
    return count;
}
