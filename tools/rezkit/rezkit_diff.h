// Comparing the resources of two files, for skrez diff and for any
// tool that reports what an update would change; and names shown as UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rezkit/rezkit.h"

// One resource that differs between an older and a newer file. Resources are
// matched by type and id; when a file holds the same type and id more than
// once, the n-th of the older file is matched with the n-th of the newer one.
struct ResourceChange {
    enum class Kind { kAdded, kRemoved, kChanged };
    Kind kind = Kind::kChanged;
    uint32_t type = 0;
    int16_t id = 0;
    // Names as the files store them (code page 932); the old ones are unset for
    // an added resource, the new ones for a removed one.
    std::optional<std::string> oldName{};
    std::optional<std::string> newName{};
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
    uint8_t oldAttributes = 0;
    uint8_t newAttributes = 0;
    // For a changed resource: what differs. At least one is set.
    bool dataDiffers = false;
    bool nameDiffers = false;
    bool attributesDiffer = false;
    bool operator==(const ResourceChange &) const = default;
};

// The resources that were added, removed or changed from older to newer,
// ordered by type and id. Empty when both files hold the same resources with
// the same names, attributes and data, wherever their blocks and entries stand
// and whatever their layouts (names compared as each layout stores them).
std::vector<ResourceChange> CompareResources(const FixtureFile &older, const FixtureFile &newer);

// One line per change, for people to read, e.g.
//   added   PICT 130 "ab": 3 bytes, attributes 0x00
//   removed STR# 128 (no name): 12 bytes
//   changed FiVe 150 (no name): data 2 -> 4 bytes
//   changed PICT 128 "ab": name "ab" -> "cd", attributes 0x00 -> 0x04; data the same
// followed by a count line ("1 added, 1 removed, 2 changed"), or the single
// line "the files hold the same resources" when there is no change.
std::vector<std::string> FormatChanges(const std::vector<ResourceChange> &changes);

// A name of code page 932 (Shift-JIS with the vendor extensions) as UTF-8;
// bytes that the code page does not map become U+FFFD.
std::string NameAsUtf8(const std::string &name);
