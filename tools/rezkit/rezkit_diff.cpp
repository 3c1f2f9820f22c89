// Comparison of two files' resources, and names converted to UTF-8.
#include "rezkit/rezkit_diff.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace {

bool SameKey(const FlatResource &a, const FlatResource &b) {
    return a.type == b.type && a.id == b.id;
}

bool KeyBefore(const FlatResource &a, const FlatResource &b) {
    return a.type != b.type ? a.type < b.type : a.id < b.id;
}

ResourceChange Added(const FlatResource &resource) {
    ResourceChange change;
    change.kind = ResourceChange::Kind::kAdded;
    change.type = resource.type;
    change.id = resource.id;
    change.newName = resource.name;
    change.newSize = resource.data.size();
    change.newAttributes = resource.attributes;
    return change;
}

ResourceChange Removed(const FlatResource &resource) {
    ResourceChange change;
    change.kind = ResourceChange::Kind::kRemoved;
    change.type = resource.type;
    change.id = resource.id;
    change.oldName = resource.name;
    change.oldSize = resource.data.size();
    change.oldAttributes = resource.attributes;
    return change;
}

std::string Quoted(const std::optional<std::string> &name) {
    return name ? "\"" + NameAsUtf8(*name) + "\"" : "(no name)";
}

std::string Attributes(uint8_t attributes) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", attributes);
    return text;
}

std::string Bytes(uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

}  // namespace

std::vector<ResourceChange> CompareResources(const FixtureFile &older, const FixtureFile &newer) {
    // Both lists are sorted by type and id, equal keys in file order, so one
    // merge pairs the n-th occurrences.
    const std::vector<FlatResource> before = FlatResources(older, true);
    const std::vector<FlatResource> after = FlatResources(newer, true);
    std::vector<ResourceChange> changes;
    size_t i = 0;
    size_t j = 0;
    while (i < before.size() || j < after.size()) {
        if (j == after.size() || (i < before.size() && KeyBefore(before[i], after[j]))) {
            changes.push_back(Removed(before[i++]));
            continue;
        }
        if (i == before.size() || !SameKey(before[i], after[j])) {
            changes.push_back(Added(after[j++]));
            continue;
        }
        const FlatResource &a = before[i++];
        const FlatResource &b = after[j++];
        if (a == b) continue;
        ResourceChange change = Removed(a);
        change.kind = ResourceChange::Kind::kChanged;
        change.newName = b.name;
        change.newSize = b.data.size();
        change.newAttributes = b.attributes;
        change.dataDiffers = a.data != b.data;
        change.nameDiffers = a.name != b.name;
        change.attributesDiffer = a.attributes != b.attributes;
        changes.push_back(change);
    }
    return changes;
}

std::vector<std::string> FormatChanges(const std::vector<ResourceChange> &changes) {
    std::vector<std::string> lines;
    size_t counts[3] = {0, 0, 0};
    for (const ResourceChange &change : changes) {
        const std::string key = TypeName(change.type) + " " + std::to_string(change.id) + " ";
        switch (change.kind) {
            case ResourceChange::Kind::kAdded:
                lines.push_back("added   " + key + Quoted(change.newName) + ": " +
                                Bytes(change.newSize) + ", attributes " +
                                Attributes(change.newAttributes));
                break;
            case ResourceChange::Kind::kRemoved:
                lines.push_back("removed " + key + Quoted(change.oldName) + ": " +
                                Bytes(change.oldSize) + ", attributes " +
                                Attributes(change.oldAttributes));
                break;
            case ResourceChange::Kind::kChanged: {
                std::string what;
                if (change.dataDiffers) {
                    what = change.oldSize == change.newSize
                               ? "data changed, " + Bytes(change.newSize)
                               : "data " + std::to_string(change.oldSize) + " -> " +
                                     Bytes(change.newSize);
                }
                if (change.nameDiffers) {
                    what += (what.empty() ? "" : ", ") + std::string("name ") +
                            Quoted(change.oldName) + " -> " + Quoted(change.newName);
                }
                if (change.attributesDiffer) {
                    what += (what.empty() ? "" : ", ") + std::string("attributes ") +
                            Attributes(change.oldAttributes) + " -> " +
                            Attributes(change.newAttributes);
                }
                if (!change.dataDiffers) what += "; data the same";
                lines.push_back("changed " + key + Quoted(change.oldName) + ": " + what);
                break;
            }
        }
        ++counts[static_cast<int>(change.kind)];
    }
    if (changes.empty()) {
        lines.push_back("the files hold the same resources");
    } else {
        lines.push_back(std::to_string(counts[0]) + " added, " + std::to_string(counts[1]) +
                        " removed, " + std::to_string(counts[2]) + " changed");
    }
    return lines;
}

std::string NameAsUtf8(const std::string &name) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    iconv_t convert = iconv_open("UTF-8", "CP932");
    if (convert == reinterpret_cast<iconv_t>(-1)) {
        // Without the converter only ASCII can be shown as it is.
        for (char c : name) {
            if (static_cast<unsigned char>(c) < 0x80) {
                out += c;
            } else {
                out += kReplacement;
            }
        }
        return out;
    }
    char *in = const_cast<char *>(name.data());
    size_t inLeft = name.size();
    while (inLeft > 0) {
        char buffer[256];
        char *to = buffer;
        size_t toLeft = sizeof buffer;
        const size_t result = iconv(convert, &in, &inLeft, &to, &toLeft);
        out.append(buffer, static_cast<size_t>(to - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // An unmapped byte, or a lead byte cut off at the end.
            out += kReplacement;
            ++in;
            --inLeft;
            iconv(convert, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(convert);
    return out;
}
