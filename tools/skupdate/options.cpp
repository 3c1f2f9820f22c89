#include "skupdate/options.h"

#include <cstdlib>

namespace {

constexpr int32_t kLargestSide = 16384;

// A side of a size: digits only, 1 to kLargestSide.
bool ParseSide(const std::string &text, int32_t *side) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const int32_t value = std::atoi(text.c_str());
    if (value < 1 || value > kLargestSide) return false;
    *side = value;
    return true;
}

}  // namespace

bool ParseSize(const std::string &text, int32_t *width, int32_t *height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    int32_t w = 0, h = 0;
    if (!ParseSide(text.substr(0, x), &w) || !ParseSide(text.substr(x + 1), &h)) return false;
    *width = w;
    *height = h;
    return true;
}

bool ParseOptions(const std::vector<std::string> &arguments, Options *options, std::string *error) {
    if (!arguments.empty() && arguments[0] == "demo") {
        options->demo = true;
        if (arguments.size() > 2) {
            *error = "demo takes at most one folder";
            return false;
        }
        if (arguments.size() == 2) options->demoFolder = arguments[1];
        if (options->demoFolder.empty() || options->demoFolder[0] == '-' ||
            options->demoFolder.find(';') != std::string::npos) {
            *error = "demo takes one folder, not an option, without ';'";
            return false;
        }
        return true;
    }
    bool filesOnly = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (filesOnly || argument.empty() || argument[0] != '-' || argument == "-") {
            options->files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            filesOnly = true;
        } else if (argument == "--help" || argument == "-h") {
            options->help = true;
            return true;
        } else if (argument == "--version") {
            options->version = true;
            return true;
        } else if (argument == "--check" || argument == "--dry-run") {
            const RunMode mode = argument == "--check" ? RunMode::kCheck : RunMode::kDryRun;
            if (options->mode != RunMode::kUpdate && options->mode != mode) {
                *error = "--check and --dry-run cannot go together";
                return false;
            }
            options->mode = mode;
        } else if (argument == "--preview" || argument == "--size" || argument == "--source" ||
                   argument == "--backup") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                *error = argument + " needs a value";
                return false;
            }
            const std::string &value = arguments[++i];
            if (argument == "--preview") {
                options->previewFolder = value;
            } else if (argument == "--source") {
                // The library reads a list of folders separated by semicolons.
                if (value.find(';') != std::string::npos) {
                    *error = "--source takes one folder, without ';'";
                    return false;
                }
                options->sourceFolder = value;
            } else if (argument == "--backup") {
                options->backupFolder = value;
            } else if (!ParseSize(value, &options->previewWidth, &options->previewHeight)) {
                *error = "--size takes WxH, each side 1 to 16384 (for example 160x120)";
                return false;
            }
        } else {
            *error = "unknown option " + argument;
            return false;
        }
    }
    if (!options->backupFolder.empty() && options->mode != RunMode::kUpdate) {
        *error = "--backup has nothing to copy with --check or --dry-run, which change no file";
        return false;
    }
    if (options->files.empty()) {
        *error = "no file to work on";
        return false;
    }
    return true;
}

const char kHelpText[] =
    R"(Usage: skupdate [options] FILE...
       skupdate demo [DIR]

Brings Skelmora content files (fish, plants, accessories, aquariums and the
other kinds) up to content version 1.5 with the update library, one file after
the other: one line per file as it goes, then a summary.

The new content comes from Updater.rez in the folder named by the environment
variable HDPathForRez (several folders separated by ';'), or by --source.

Options:
  --check          judge each file only: whether it needs the update and
                   whether it has its own picture. The library converts files
                   of the two older layouts when it opens them, so the check
                   opens a private temporary copy; no byte of any file changes.
  --dry-run        update a private temporary copy of each file and print what
                   the update would change, resource by resource (added,
                   replaced, grown, removed: type, id, name, sizes). The file
                   itself is left untouched.
  --backup DIR     copy each file into DIR before the library opens it (opening
                   already rewrites a file of an older layout). A copy never
                   replaces an earlier one: NAME, then NAME.1, NAME.2, ... When
                   a copy fails the run stops before that file is touched.
  --preview DIR    draw each file's preview picture (its own, or the update
                   source's default picture) and save it as DIR/NAME.png.
  --size WxH       size of the previews in pixels (default 160x120).
  --source FOLDER  use FOLDER/Updater.rez for this run.
  --help           show this text.
  --version        show the version.

  skupdate demo [DIR] writes a demo set of content files of every kind and an
  Updater.rez into DIR (default ./skelmora-demo; files already there are kept
  as they are), then updates them with previews into DIR/previews.

The files you update exist nowhere else: use --check or --dry-run first, and
--backup for a run that changes them.

Messages of the library are written to standard error (and, when
SKELMORA_MESSAGE_LOG names a file, appended to it as JSON lines).

Exit status: 0 every file is current or was updated (or, with --check and
--dry-run, could be judged); 1 a file failed; 2 usage error; 3 the library could
not register (no update source, or another update is running).
)";

std::string VersionText() {
    return std::string("skupdate ") + SKUPDATE_VERSION +
           " (brings content files to content version 1.5)";
}
