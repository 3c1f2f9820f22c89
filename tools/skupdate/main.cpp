// skupdate: brings Skelmora content files up to content version 1.5 through
// the update library's exports, and writes and updates the built-in demo set.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "skupdate/demo_set.h"
#include "skupdate/options.h"
#include "skupdate/update_job.h"

namespace {

// Writes what is missing of the demo set into the folder, then updates its
// content files with its own update source, previews into folder/previews.
int RunDemo(const std::string &folder) {
    std::string error;
    const int written = WriteDemoSet(folder, &error);
    if (written < 0) {
        std::fprintf(stderr, "skupdate: %s\n", error.c_str());
        return kExitFileFailed;
    }
    const std::vector<DemoFile> set = DemoSet();
    std::printf("Demo set in %s: %d files written, %zu already there.\n", folder.c_str(), written,
                set.size() - static_cast<size_t>(written));
    Options options;
    options.sourceFolder = folder;
    options.previewFolder = (std::filesystem::path(folder) / "previews").string();
    for (const DemoFile &file : set) {
        if (file.name != kDemoSourceName)
            options.files.push_back((std::filesystem::path(folder) / file.name).string());
    }
    std::printf("Updating them with %s/%s:\n", folder.c_str(), kDemoSourceName);
    std::fflush(stdout);
    const int status = RunUpdateJob(options);
    if (status == kExitDone) std::printf("Previews are in %s.\n", options.previewFolder.c_str());
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "skupdate: %s\nTry 'skupdate --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kHelpText, stdout);
        return kExitDone;
    }
    if (options.version) {
        std::printf("%s\n", VersionText().c_str());
        return kExitDone;
    }
    return options.demo ? RunDemo(options.demoFolder) : RunUpdateJob(options);
}
