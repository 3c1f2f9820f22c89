// The demo set: an update source and content files of every kind, in all three
// file layouts, written by the format kit and byte for byte the same on every
// run. The files of an older layout carry their records in the old record
// layouts, as such files do, so an update converts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr char kDemoSourceName[] = "Updater.rez";

struct DemoFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The update source first (kDemoSourceName), then the content files.
std::vector<DemoFile> DemoSet();

// Writes every file of the set that folder does not hold yet (the folder is made
// when missing); a file already there is left as it is. The number of files
// written, or -1 with the reason in *error.
int WriteDemoSet(const std::string &folder, std::string *error);
