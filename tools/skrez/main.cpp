// skrez: looks inside resource files without changing them. It reads every
// file through the format kit's checking reader, never through the library, so
// that it judges what the library wrote independently.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "rezkit/rezkit.h"
#include "rezkit/rezkit_diff.h"
#include "skrez/picture_export.h"

namespace {

// Exit statuses: 0 done (sound, the same), 1 damaged or different, 2 the
// command could not be carried out.
constexpr int kDone = 0;
constexpr int kFound = 1;
constexpr int kTrouble = 2;

constexpr char kUsage[] =
    "usage: skrez COMMAND ...\n"
    "  skrez list [--json] FILE          every resource, the totals and the info block\n"
    "  skrez dump [--raw] FILE TYPE ID   a resource's data as a hex dump, or raw\n"
    "  skrez extract FILE TYPE ID -o OUT a resource's data; pictures as BMP, or as PNG\n"
    "                                    when OUT ends in .png\n"
    "  skrez diff OLD NEW                the resources added, removed and changed\n"
    "  skrez verify FILE                 every broken rule of the format, by offset\n"
    "  skrez --help                      this text\n"
    "TYPE is four characters (PICT) or 0x and eight hex digits; ID is -32768 to 32767.\n"
    "Exit status: 0 done, sound or the same; 1 damaged (verify) or different (diff);\n"
    "2 a command that could not be carried out. skrez never writes to the files it reads.\n";

int Usage(const std::string &problem) {
    std::cerr << "skrez: " << problem << "\n" << kUsage;
    return kTrouble;
}

int Trouble(const std::string &problem) {
    std::cerr << "skrez: " << problem << "\n";
    return kTrouble;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// A file that the command's own reading needs whole: read and sound by the
// strict rules, or a message and false.
bool LoadSoundFile(const std::string &path, std::vector<uint8_t> *bytes, FixtureFile *file) {
    if (!ReadWholeFile(path, bytes)) {
        Trouble("cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    std::string why;
    if (!ParseResourceFile(*bytes, file, &why)) {
        Trouble(path + " is damaged: " + why + "; 'skrez verify " + path + "' lists every fault");
        return false;
    }
    return true;
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string LayoutLine(const std::string &path, const std::vector<uint8_t> &bytes, int layout) {
    std::string line = path + ": layout " + std::to_string(layout) + ", " +
                       std::to_string(bytes.size()) + " bytes";
    if (layout == 1100 || layout == 1000) {
        line += " (an older layout: opening the file with the library converts it to 1500)";
    }
    return line;
}

struct Totals {
    size_t types = 0;
    size_t resources = 0;
    uint64_t dataBytes = 0;
};

Totals Count(const FixtureFile &file) {
    Totals totals;
    totals.types = file.types.size();
    for (const FixtureType &type : file.types) {
        totals.resources += type.resources.size();
        for (const FixtureResource &resource : type.resources)
            totals.dataBytes += resource.data.size();
    }
    return totals;
}

void ListAsText(const std::string &path, const std::vector<uint8_t> &bytes,
                const FixtureFile &file) {
    std::cout << LayoutLine(path, bytes, file.layout) << "\n";
    if (file.layout == 1500) {
        std::cout << "kind " << TypeName(file.kind) << ", format 1500, values "
                  << file.infoValues[0] << " " << file.infoValues[1] << " " << file.infoValues[2]
                  << " " << file.infoValues[3] << ", conversion pending "
                  << int{file.conversionPending} << ", dead bytes " << file.deadBytes << "\n";
    }
    std::cout << "data area at 256, " << DataLengthOf(bytes) << " bytes; map at "
              << MapOffsetOf(bytes) << ", " << MapLengthOf(bytes) << " bytes\n";
    std::printf("%-10s %6s %10s  %-4s %8s  %s\n", "type", "id", "size", "attr", "offset", "name");
    for (const FixtureType &type : file.types) {
        if (type.resources.empty()) {
            std::printf("%-10s  (no resources)\n", TypeName(type.type).c_str());
            continue;
        }
        for (const FixtureResource &resource : type.resources) {
            const std::string name = resource.name ? NameAsUtf8(*resource.name) : "";
            std::printf("%-10s %6d %10zu  %s %8u  %s\n", TypeName(type.type).c_str(), resource.id,
                        resource.data.size(), Hex2(resource.attributes).c_str(),
                        *resource.dataOffset, name.c_str());
        }
    }
    const Totals totals = Count(file);
    std::cout << totals.types << " types, " << totals.resources << " resources, "
              << totals.dataBytes << " bytes of data\n";
}

void ListAsJson(const std::string &path, const std::vector<uint8_t> &bytes,
                const FixtureFile &file) {
    std::ostringstream out;
    const bool current = file.layout == 1500;
    auto orNull = [current](const std::string &value) { return current ? value : "null"; };
    out << "{\"file\":" << JsonString(path) << ",\"layout\":" << file.layout
        << ",\"size\":" << bytes.size() << ",\"kind\":" << orNull(JsonString(TypeName(file.kind)))
        << ",\"format\":" << orNull("1500") << ",\"values\":"
        << orNull("[" + std::to_string(file.infoValues[0]) + "," +
                  std::to_string(file.infoValues[1]) + "," + std::to_string(file.infoValues[2]) +
                  "," + std::to_string(file.infoValues[3]) + "]")
        << ",\"conversionPending\":" << orNull(std::to_string(file.conversionPending))
        << ",\"deadBytes\":" << orNull(std::to_string(file.deadBytes))
        << ",\"dataLength\":" << DataLengthOf(bytes) << ",\"mapOffset\":" << MapOffsetOf(bytes)
        << ",\"mapLength\":" << MapLengthOf(bytes) << ",\"types\":[";
    for (size_t t = 0; t < file.types.size(); ++t) {
        const FixtureType &type = file.types[t];
        out << (t > 0 ? "," : "") << "{\"type\":" << JsonString(TypeName(type.type))
            << ",\"resources\":[";
        for (size_t r = 0; r < type.resources.size(); ++r) {
            const FixtureResource &resource = type.resources[r];
            out << (r > 0 ? "," : "") << "{\"id\":" << resource.id
                << ",\"name\":" << (resource.name ? JsonString(NameAsUtf8(*resource.name)) : "null")
                << ",\"size\":" << resource.data.size()
                << ",\"attributes\":" << int{resource.attributes}
                << ",\"dataOffset\":" << *resource.dataOffset << "}";
        }
        out << "]}";
    }
    const Totals totals = Count(file);
    out << "],\"totals\":{\"types\":" << totals.types << ",\"resources\":" << totals.resources
        << ",\"dataBytes\":" << totals.dataBytes << "}}\n";
    std::cout << out.str();
}

// Parses "PICT" or "0x50494354".
bool ParseType(const std::string &text, uint32_t *type) {
    if (text.size() == 4) {
        *type = 0;
        for (char c : text)
            *type = (*type << 8) | static_cast<uint8_t>(c);
        return true;
    }
    if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text.c_str() + 2, &end, 16);
    if (*end != '\0') return false;
    *type = static_cast<uint32_t>(value);
    return true;
}

bool ParseId(const std::string &text, int16_t *id) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || value < -32768 || value > 32767) return false;
    *id = static_cast<int16_t>(value);
    return true;
}

// The first resource of that type and id in map order, as the library finds it.
const FixtureResource *FindResource(const FixtureFile &file, uint32_t type, int16_t id) {
    for (const FixtureType &t : file.types) {
        if (t.type != type) continue;
        for (const FixtureResource &resource : t.resources) {
            if (resource.id == id) return &resource;
        }
    }
    return nullptr;
}

// Loads FILE and finds the resource named by TYPE and ID.
bool LoadResource(const std::vector<std::string> &args, std::vector<uint8_t> *bytes,
                  FixtureFile *file, const FixtureResource **resource, uint32_t *type,
                  int *status) {
    int16_t id = 0;
    if (!ParseType(args[1], type)) {
        *status = Usage("type '" + args[1] + "' is neither four characters nor 0x and 8 digits");
        return false;
    }
    if (!ParseId(args[2], &id)) {
        *status = Usage("id '" + args[2] + "' is not a number from -32768 to 32767");
        return false;
    }
    if (!LoadSoundFile(args[0], bytes, file)) {
        *status = kTrouble;
        return false;
    }
    *resource = FindResource(*file, *type, id);
    if (*resource == nullptr) {
        *status = Trouble(args[0] + " holds no resource " + TypeName(*type) + " " + args[2]);
        return false;
    }
    return true;
}

void HexDump(const std::vector<uint8_t> &data) {
    for (size_t line = 0; line < data.size(); line += 16) {
        std::printf("%08zx ", line);
        std::string text;
        for (size_t i = line; i < line + 16; ++i) {
            if (i % 8 == 0) std::printf(" ");
            if (i < data.size()) {
                std::printf("%02x ", data[i]);
                text += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf(" |%s|\n", text.c_str());
    }
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa = {};
    struct stat sb = {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool EndsWith(const std::string &text, const std::string &end) {
    if (text.size() < end.size()) return false;
    for (size_t i = 0; i < end.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i])
            return false;
    }
    return true;
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

int List(const std::vector<std::string> &args, bool json) {
    if (args.size() != 1) return Usage("list takes one file");
    std::vector<uint8_t> bytes;
    FixtureFile file;
    if (!LoadSoundFile(args[0], &bytes, &file)) return kTrouble;
    if (json) {
        ListAsJson(args[0], bytes, file);
    } else {
        ListAsText(args[0], bytes, file);
    }
    return kDone;
}

int Dump(const std::vector<std::string> &args, bool raw) {
    if (args.size() != 3) return Usage("dump takes a file, a type and an id");
    std::vector<uint8_t> bytes;
    FixtureFile file;
    const FixtureResource *resource = nullptr;
    uint32_t type = 0;
    int status = kDone;
    if (!LoadResource(args, &bytes, &file, &resource, &type, &status)) return status;
    if (raw) {
        std::cout.write(reinterpret_cast<const char *>(resource->data.data()),
                        static_cast<std::streamsize>(resource->data.size()));
    } else {
        HexDump(resource->data);
    }
    std::cout.flush();
    return std::cout ? kDone : Trouble("cannot write the data");
}

int Extract(const std::vector<std::string> &args, const std::string &output) {
    if (args.size() != 3 || output.empty()) {
        return Usage("extract takes a file, a type, an id and -o OUT");
    }
    if (SameFile(args[0], output)) return Trouble("will not write over " + args[0]);
    std::vector<uint8_t> bytes;
    FixtureFile file;
    const FixtureResource *resource = nullptr;
    uint32_t type = 0;
    int status = kDone;
    if (!LoadResource(args, &bytes, &file, &resource, &type, &status)) return status;
    if (!IsPictureType(type)) {
        return WriteBytes(output, resource->data) ? kDone : Trouble("cannot write " + output);
    }
    StoredPicture picture;
    std::string why;
    if (!ReadStoredPicture(resource->data, &picture, &why)) {
        return Trouble(TypeName(type) + " " + args[2] + ": " + why);
    }
    if (picture.missingBytes > 0) {
        std::cerr << "skrez: " << TypeName(type) << " " << args[2] << ": the data lacks "
                  << picture.missingBytes << " bytes of the picture, taken as 0\n";
    }
    if (EndsWith(output, ".png")) {
        const uint32_t rows =
            static_cast<uint32_t>(picture.height < 0 ? -picture.height : picture.height);
        if (!WritePng(output, static_cast<uint32_t>(picture.width), rows, RgbFromPicture(picture),
                      &why)) {
            return Trouble(why);
        }
        return kDone;
    }
    return WriteBytes(output, BmpFromPicture(picture)) ? kDone : Trouble("cannot write " + output);
}

int Diff(const std::vector<std::string> &args) {
    if (args.size() != 2) return Usage("diff takes two files");
    std::vector<uint8_t> oldBytes;
    std::vector<uint8_t> newBytes;
    FixtureFile older;
    FixtureFile newer;
    if (!LoadSoundFile(args[0], &oldBytes, &older) || !LoadSoundFile(args[1], &newBytes, &newer)) {
        return kTrouble;
    }
    const std::vector<ResourceChange> changes = CompareResources(older, newer);
    for (const std::string &line : FormatChanges(changes))
        std::cout << line << "\n";
    return changes.empty() ? kDone : kFound;
}

int Verify(const std::vector<std::string> &args) {
    if (args.size() != 1) return Usage("verify takes one file");
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(args[0], &bytes)) {
        return Trouble("cannot read " + args[0] + ": " + std::strerror(errno));
    }
    FixtureFile file;
    const std::vector<Violation> violations = CheckResourceFile(bytes, &file);
    if (file.layout != 0) std::cout << LayoutLine(args[0], bytes, file.layout) << "\n";
    for (const Violation &violation : violations)
        std::cout << "at " << violation.offset << ": " << violation.what << "\n";
    if (violations.empty()) {
        std::cout << "sound\n";
        return kDone;
    }
    std::cout << "damaged: " << violations.size()
              << (violations.size() == 1 ? " fault\n" : " faults\n");
    return kFound;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args;
    bool json = false;
    bool raw = false;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "help") {
            std::cout << kUsage;
            return kDone;
        }
        if (arg == "--json") {
            json = true;
        } else if (arg == "--raw") {
            raw = true;
        } else if (arg == "-o") {
            if (i + 1 == argc) return Usage("-o needs a file name");
            output = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-" &&
                   !(arg.size() > 1 && (arg[1] >= '0' && arg[1] <= '9'))) {
            return Usage("unknown option " + arg);
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) return Usage("no command");
    const std::string command = args.front();
    args.erase(args.begin());
    const bool listing = command == "list";
    const bool dumping = command == "dump";
    if ((json && !listing) || (raw && !dumping) || (!output.empty() && command != "extract")) {
        return Usage("an option that " + command + " does not take");
    }
    if (listing) return List(args, json);
    if (dumping) return Dump(args, raw);
    if (command == "extract") return Extract(args, output);
    if (command == "diff") return Diff(args);
    if (command == "verify") return Verify(args);
    return Usage("unknown command " + command);
}
