#include "skupdate/change_report.h"

#include <cstdio>

#include "rezkit/rezkit.h"
#include "rezkit/rezkit_diff.h"

namespace {

std::string Name(const std::optional<std::string> &name) {
    if (!name) return "(no name)";
    std::string text = "\"";
    text += NameAsUtf8(*name);
    text += '"';
    return text;
}

std::string Attributes(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string Line(const ResourceChange &change) {
    using Kind = ResourceChange::Kind;
    const bool added = change.kind == Kind::kAdded;
    std::string what;
    if (change.kind != Kind::kChanged) {
        what = added ? "added   " : "removed ";
    } else if (change.dataDiffers) {
        what = change.newSize > change.oldSize ? "grown   " : "replaced";
    } else {
        what = change.nameDiffers ? "renamed " : "changed ";
    }
    std::string line = what + " " + TypeName(change.type) + " " + std::to_string(change.id) + " " +
                       Name(added ? change.newName : change.oldName) + ": ";
    if (change.kind != Kind::kChanged) {
        return line + std::to_string(added ? change.newSize : change.oldSize) + " bytes";
    }
    std::string details;
    if (change.dataDiffers) {
        details =
            std::to_string(change.oldSize) + " -> " + std::to_string(change.newSize) + " bytes";
    }
    if (change.nameDiffers) {
        details += (details.empty() ? "name " : ", name ") + Name(change.oldName) + " -> " +
                   Name(change.newName);
    }
    if (change.attributesDiffer) {
        details += (details.empty() ? "attributes " : ", attributes ") +
                   Attributes(change.oldAttributes) + " -> " + Attributes(change.newAttributes);
    }
    return line + details;
}

}  // namespace

bool DescribeChanges(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after,
                     std::vector<std::string> *lines, std::string *error) {
    FixtureFile older, newer;
    std::string why;
    if (!ParseResourceFile(before, &older, &why) || !ParseResourceFile(after, &newer, &why)) {
        *error = "the format kit cannot read it to compare: " + why;
        return false;
    }
    lines->clear();
    if (older.layout != newer.layout) {
        lines->push_back("layout " + std::to_string(older.layout) + " -> " +
                         std::to_string(newer.layout));
    }
    for (const ResourceChange &change : CompareResources(older, newer))
        lines->push_back(Line(change));
    return true;
}
