// What an update changed in a file, told resource by resource from the format
// kit's comparison of the file before and after: the dry run's report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One line per change, in the order of type and id:
//   added    TYPE ID "name": N bytes
//   removed  TYPE ID "name": N bytes
//   grown    TYPE ID "name": A -> B bytes      (new data, longer)
//   replaced TYPE ID "name": A -> B bytes      (new data, as long or shorter)
//   renamed  TYPE ID "name": name "old" -> "new"
// with ", name ..." and ", attributes 0xAA -> 0xBB" behind a line when they
// changed too; names in UTF-8, (no name) for none. A first line
// "layout 1100 -> 1500" tells that the file is rewritten in the current layout.
// False with the reason in *error when the kit cannot read either file.
bool DescribeChanges(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after,
                     std::vector<std::string> *lines, std::string *error);
