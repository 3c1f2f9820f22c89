// What the fuzz targets share: a private folder on a memory file system, files
// written from the fuzzer's input, the Resource Manager's life around each
// input, and a lenient look at the types a file's map lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A folder of this process's own, on /dev/shm when there is one.
const std::string &FuzzFolder();
// Writes bytes as name in the folder; the path.
std::string WriteFuzzFile(const std::string &name, const uint8_t *data, size_t size);
std::vector<uint8_t> ReadFuzzFile(const std::string &path);

// Creates the memory pool and starts the Resource Manager; the end stops it and
// frees the pool with every block still in it.
void BeginResourceSession();
void EndResourceSession();

// The types that the map of a layout-1500 image lists (at most 64), read with
// every field checked; none when the image has no readable map.
std::vector<uint32_t> ListedTypes(const uint8_t *data, size_t size);

// Gets, reads the information of and releases every resource of the listed
// types in the current file, by index, by id and by name.
void WalkResources(const std::vector<uint32_t> &types);

// A layout-1500 file image with the unused rest of its info block (bytes 37 to
// 255) made zero; an image of another layout as it is: the library carries whatever stands there
// through every rewrite, and the format kit's reader, strict, wants zeros.
std::vector<uint8_t> WithoutInfoRest(std::vector<uint8_t> image);

// Aborts with message when condition does not hold: a property the fuzzer found
// broken.
void Require(bool condition, const char *message);
