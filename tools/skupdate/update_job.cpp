#include "skupdate/update_job.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "rezkit/rezkit_diff.h"
#include "skupdate/change_report.h"
#include "skupdate/file_copies.h"
#include "skupdate/previews.h"
#include "skupdater.h"

namespace fs = std::filesystem;

namespace {

// Paths the library takes are shorter than this.
constexpr size_t kLongestPath = 255;
constexpr char kSourceName[] = "Updater.rez";
constexpr char kLockName[] = "SKELMORA UPDATER APPLICATION.lock";

enum class Outcome { kUpdated, kCurrent, kNeedsUpdate, kFailed, kNotDone };

// How many files ended in each outcome.
struct Tally {
    int counts[5] = {};
    void Count(Outcome outcome) { ++counts[static_cast<int>(outcome)]; }
    int operator[](Outcome outcome) const { return counts[static_cast<int>(outcome)]; }
};

// What one file's turn produced: its outcome and the line that tells it.
struct FileReport {
    Outcome outcome = Outcome::kFailed;
    std::string line;
    bool stopRun = false;
};

// The library reads a path that begins with a letter and a colon as a drive
// path, so a relative path is handed over as ./PATH.
std::string LibraryPath(const std::string &path) {
    if (path.empty() || path[0] == '/') return path;
    return "./" + path;
}

// Why Register failed, as far as can be seen from outside the library.
std::string RegisterFailure() {
    const char *value = getenv("HDPathForRez");
    const std::string folders = value != nullptr ? value : "";
    if (folders.empty()) {
        return "no update source: HDPathForRez is not set and no CD holds one; name the folder "
               "that holds Updater.rez with --source FOLDER";
    }
    std::string found;
    for (size_t start = 0; found.empty();) {
        const size_t end = folders.find(';', start);
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / kSourceName;
        std::error_code code;
        if (fs::is_regular_file(candidate, code)) found = candidate.string();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (found.empty()) return "no update source: there is no Updater.rez in " + folders;
    const char *temp = getenv("TMPDIR");
    const std::string lock =
        std::string(temp != nullptr && *temp ? temp : "/tmp") + "/" + kLockName;
    return "the update library could not register with " + found +
           ": it is not a resource file the library can open, or another update is running "
           "(it holds the lock " +
           lock + ")";
}

class Job {
  public:
    explicit Job(const Options &options) : options_(options) {}

    int Run();

  private:
    FileReport DoFile(const std::string &file);
    FileReport Judge(const std::string &file, const std::string &workPath);

    const Options &options_;
    PrivateFolder *copies_ = nullptr;
    std::set<std::string> previewNames_;
};

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

FileReport Failed(const std::string &file, const std::string &why) {
    return {Outcome::kFailed, file + ": failed: " + why};
}

FileReport Job::DoFile(const std::string &file) {
    std::string error, backup;
    if (!options_.backupFolder.empty()) {
        backup = BackUpFile(file, options_.backupFolder, &error);
        if (backup.empty()) {
            FileReport report = Failed(file, "no backup (" + error + "); the run stops here");
            report.stopRun = true;
            return report;
        }
    }
    std::string workPath = file;
    if (options_.mode != RunMode::kUpdate) {
        // The library opens files for writing: a file it could not write would
        // fail in a real run, whatever its private copy shows.
        if (access(file.c_str(), W_OK) != 0) {
            return Failed(file, std::string("it cannot be written: ") + std::strerror(errno));
        }
        workPath = copies_->CopyIn(file, &error);
        if (workPath.empty()) return Failed(file, error);
    }
    FileReport report = Judge(file, LibraryPath(workPath));
    if (!backup.empty()) report.line += " (backup " + backup + ")";
    if (options_.mode == RunMode::kDryRun && report.outcome != Outcome::kFailed) {
        // What the update did to the copy is what it would do to the file.
        std::vector<uint8_t> before, after;
        std::vector<std::string> changes;
        if (!ReadFileBytes(file, &before, &error) || !ReadFileBytes(workPath, &after, &error) ||
            !DescribeChanges(before, after, &changes, &error)) {
            return Failed(file, "no report of the changes: " + error);
        }
        for (const std::string &change : changes)
            report.line += "\n    " + change;
    }
    return report;
}

FileReport Job::Judge(const std::string &file, const std::string &workPath) {
    if (workPath.size() > kLongestPath) {
        return Failed(file, "its path is longer than the library takes (255 characters)");
    }
    const bool opened = Open(workPath.c_str()) == 1;
    char verdict[256] = {}, needs[256] = {};
    List(100, 0, verdict);
    List(300, 0, needs);
    const bool ownPicture = List(200, 0, verdict + 128) == 1;  // the buffer is not touched
    if (!opened) {
        Close();
        // The verdict is set only once the file has opened as a resource file.
        return Failed(file, verdict[0] == '\0'
                                ? "the library cannot open it for writing as a resource file "
                                  "(see its message)"
                                : "it is not a content file of a kind the update knows");
    }
    const bool needsUpdate = std::string(needs) == "YES";
    FileReport report;
    report.line = file + ": " + NameAsUtf8(verdict) + " (update needed: " + needs +
                  ", own picture: " + YesNo(ownPicture) + ") -> ";
    std::string preview;
    if (!options_.previewFolder.empty()) {
        const std::string png = PreviewPath(options_.previewFolder, file, &previewNames_);
        const std::string problem = SavePreview(png, options_.previewWidth, options_.previewHeight);
        preview = problem.empty() ? ", preview " + png : ", no preview: " + problem;
    }
    if (!needsUpdate) {
        report.outcome = Outcome::kCurrent;
        report.line += options_.mode == RunMode::kCheck ? "current" : "already current";
    } else if (options_.mode == RunMode::kCheck) {
        report.outcome = Outcome::kNeedsUpdate;
        report.line += "needs the update";
    } else if (Update() == 1) {
        report.outcome = Outcome::kUpdated;
        report.line += options_.mode == RunMode::kDryRun ? "would be updated" : "updated";
    } else {
        report.outcome = Outcome::kFailed;
        report.line += "failed: the update did not finish (see the library's message)";
    }
    Close();
    report.line += preview;
    return report;
}

int Job::Run() {
    std::error_code code;
    if (!options_.sourceFolder.empty()) {
        const fs::path source = fs::path(options_.sourceFolder) / kSourceName;
        if (!fs::is_regular_file(source, code)) {
            std::fprintf(stderr, "skupdate: no update source: there is no %s\n",
                         source.string().c_str());
            return kExitNoRegister;
        }
        setenv("HDPathForRez", options_.sourceFolder.c_str(), 1);
    }
    for (const std::string &folder : {options_.previewFolder, options_.backupFolder}) {
        if (folder.empty()) continue;
        fs::create_directories(folder, code);
        if (code || !fs::is_directory(folder, code)) {
            std::fprintf(stderr, "skupdate: cannot make the folder %s\n", folder.c_str());
            return kExitFileFailed;
        }
    }
    PrivateFolder copies;
    copies_ = &copies;
    if (Register(nullptr) != 1) {
        std::fprintf(stderr, "skupdate: %s\n", RegisterFailure().c_str());
        return kExitNoRegister;
    }
    Tally tally;
    bool stopped = false;
    for (const std::string &file : options_.files) {
        if (stopped) {
            tally.Count(Outcome::kNotDone);
            continue;
        }
        const FileReport report = DoFile(file);
        std::printf("%s\n", report.line.c_str());
        std::fflush(stdout);
        tally.Count(report.outcome);
        stopped = report.stopRun;
    }
    UnRegister();

    const int files = static_cast<int>(options_.files.size());
    if (options_.mode == RunMode::kCheck) {
        std::printf("%d file%s: %d need%s the update, %d current, %d failed", files,
                    files == 1 ? "" : "s", tally[Outcome::kNeedsUpdate],
                    tally[Outcome::kNeedsUpdate] == 1 ? "s" : "", tally[Outcome::kCurrent],
                    tally[Outcome::kFailed]);
    } else {
        std::printf("%d file%s: %d %s, %d already current, %d failed", files, files == 1 ? "" : "s",
                    tally[Outcome::kUpdated],
                    options_.mode == RunMode::kDryRun ? "would be updated" : "updated",
                    tally[Outcome::kCurrent], tally[Outcome::kFailed]);
    }
    if (tally[Outcome::kNotDone] > 0)
        std::printf(", %d not done (the run stopped)", tally[Outcome::kNotDone]);
    std::printf("\n");
    return tally[Outcome::kFailed] + tally[Outcome::kNotDone] > 0 ? kExitFileFailed : kExitDone;
}

}  // namespace

int RunUpdateJob(const Options &options) {
    Job job(options);
    return job.Run();
}
