// The command line of skupdate: what a run is asked to do, read from the
// arguments, and the help and version texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a run does with each file.
enum class RunMode {
    kUpdate,  // update the file in place
    kCheck,   // judge a private copy; the file stays as it is
    kDryRun,  // update a private copy and tell what changed; the file stays as it is
};

struct Options {
    RunMode mode = RunMode::kUpdate;
    std::string previewFolder;  // empty: no previews
    int32_t previewWidth = 160;
    int32_t previewHeight = 120;
    std::string sourceFolder;  // empty: the folders of HDPathForRez as they are
    std::string backupFolder;  // empty: no backups
    std::vector<std::string> files;

    bool demo = false;  // skupdate demo [DIR]
    std::string demoFolder = "skelmora-demo";

    bool help = false;
    bool version = false;
};

// Reads the arguments behind the program name. False with the reason in *error
// for a usage error: an unknown option, an option without its value, a size
// that is not WxH with each side 1 to 16384, options that cannot go together,
// or no file to work on.
bool ParseOptions(const std::vector<std::string> &arguments, Options *options, std::string *error);

// Reads "WxH" with each side 1 to 16384 and nothing else around it.
bool ParseSize(const std::string &text, int32_t *width, int32_t *height);

extern const char kHelpText[];
// "skupdate VERSION" and what the update brings files to.
std::string VersionText();
