// skfaults: the fault campaign. On every file of the demo set it runs the whole
// road of an update through the exports (Open, which converts older layouts;
// Update, which converts the records, runs the kind's updater, writes single
// resources and writes the file back; Close, which writes back what is left)
// with the n-th call of one kind failing, for n = 1, 2, ... until the run no
// longer reaches it, for every kind of fault. After each run:
//  - a run whose fault never fired reported success and left exactly the file
//    that an undisturbed run leaves;
//  - otherwise the file is still there and sound (the old file, or a sound step
//    on the way), or the finished file waits under its temporary name; when
//    the run reported success, it holds the content an undisturbed run gives;
//  - running the update again, undisturbed, gives the content that an
//    undisturbed run gives (where the blocks stand aside, and old resources
//    that a disturbed run could not remove kept): a failure loses nothing and
//    leaves nothing half done;
//  - no file is left open, and no memory that the run allocated is left.
// Prints the runs per file and kind of fault; exit status 1 when a check failed.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

#include "platform/fault_platform.h"
#include "rezkit/rezkit.h"
#include "rezkit/rezkit_diff.h"
#include "skupdate/demo_set.h"
#include "skupdater.h"
#include "support/fault_run.h"
#include "support/memory_pool.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The kinds of fault: the platform calls, then the memory pool's allocations.
constexpr int kFaultKinds[] = {
    static_cast<int>(PlatformOp::Open),      static_cast<int>(PlatformOp::Read),
    static_cast<int>(PlatformOp::Write),     static_cast<int>(PlatformOp::Seek),
    static_cast<int>(PlatformOp::Delete),    static_cast<int>(PlatformOp::Move),
    static_cast<int>(PlatformOp::FreeSpace), kAllocationFault};
constexpr uint32_t kMostRuns = 20000;
constexpr const char *kTemporaryNames[] = {"~SM12345.tmp", "~RES0000.tmp", "~SMKEEP.tmp"};

std::string g_folder;
int g_failures = 0;
std::map<std::string, int> g_failedChecks;  // by what failed

Bytes Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const std::string &path, const Bytes &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

int OpenDescriptors() {
    int count = 0;
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (readdir(fds) != nullptr)
            ++count;
        closedir(fds);
    }
    return count;
}

// The road of one update; the result of Update.
int32_t Road(const std::string &path) {
    Open(path.c_str());
    const int32_t result = Update();
    Close();
    return result;
}

// A sound resource file: the format kit's strict reader accepts it, the unused
// rest of a layout-1500 info block aside (the library carries whatever stands
// there).
bool Sound(Bytes image) {
    const bool current = image.size() >= 256 && GetU32(image, 20) == 1500;
    for (size_t i = 37; current && i < 256; ++i)
        image[i] = 0;
    FixtureFile file;
    std::string why;
    return ParseResourceFile(image, &file, &why);
}

// The same content: the same resources (type, id, name, data, attributes) and
// info block; where the blocks stand and the dead bytes between them aside.
// The content of an undisturbed update, give or take old resources that a
// disturbed one kept (an old picture it could not remove): every resource of
// expected is in actual, and every other resource of actual is one of the
// original file's.
// *differences gets what differs.
bool SameContent(const Bytes &actual, const Bytes &expected, const Bytes &original,
                 std::string *differences) {
    FixtureFile got, want, old;
    if (!ParseResourceFile(actual, &got, differences) ||
        !ParseResourceFile(expected, &want, differences) ||
        !ParseResourceFile(original, &old, differences)) {
        return false;
    }
    if (got.kind != want.kind || got.conversionPending != want.conversionPending) {
        *differences = "the info block";
        return false;
    }
    std::vector<ResourceChange> unexplained;
    const std::vector<FlatResource> oldResources = FlatResources(old);
    for (const ResourceChange &change : CompareResources(want, got)) {
        const FlatResource *kept = nullptr;
        for (const FlatResource &resource : oldResources)
            if (resource.type == change.type && resource.id == change.id) kept = &resource;
        if (change.kind != ResourceChange::Kind::kAdded || kept == nullptr ||
            kept->data.size() != change.newSize) {
            unexplained.push_back(change);
        }
    }
    for (const std::string &line : FormatChanges(unexplained))
        *differences += "\n      " + line;
    return unexplained.empty();
}

// Prints the first ten failed checks, or every one when SKFAULTS_SHOW_ALL is set.
void Fail(const std::string &what, const std::string &file, const char *kind, uint32_t n,
          const std::string &details = "") {
    ++g_failedChecks[what + " (" + kind + " faults)"];
    if (++g_failures <= 10 || std::getenv("SKFAULTS_SHOW_ALL") != nullptr) {
        std::printf("  FAILED %s: %s, %s fault at call %u%s\n", what.c_str(), file.c_str(), kind, n,
                    details.c_str());
    }
}

// One run with the n-th call of the kind failing; false once the fault no
// longer fires.
bool FaultedRun(const DemoFile &demo, const Bytes &reference, int kind, uint32_t n) {
    const std::string path = g_folder + "/" + demo.name;
    for (const char *name : kTemporaryNames)
        unlink((g_folder + "/" + name).c_str());
    Put(path, demo.bytes);
    const char *kindName = FaultKindName(kind);
    const int descriptors = OpenDescriptors();
    const int64_t blocks = MemoryPoolBlockCount();
    int32_t result = 0;
    const bool fired = RunWithNthFault(kind, n, [&] { result = Road(path); });
    if (OpenDescriptors() != descriptors) Fail("a file was left open", demo.name, kindName, n);
    // Fewer blocks is no fault: a run may drop what an earlier one cached.
    if (MemoryPoolBlockCount() > blocks) Fail("memory was left allocated", demo.name, kindName, n);
    if (!fired) {
        if (result != 1 || Read(path) != reference)
            Fail("an undisturbed run differs", demo.name, kindName, n);
        return false;
    }
    const Bytes after = Read(path);
    bool waiting = false;
    for (const char *name : kTemporaryNames)
        waiting = waiting || access((g_folder + "/" + name).c_str(), F_OK) == 0;
    if (after.empty() && waiting) return true;  // the finished file under its temporary name
    if (!Sound(after)) Fail("the file is not sound", demo.name, kindName, n);
    std::string differences;
    if (result == 1 && !SameContent(after, reference, demo.bytes, &differences))
        Fail("a disturbed update reported success unfinished", demo.name, kindName, n, differences);
    differences.clear();
    Road(path);  // 0 when the faulted run had finished the update already
    if (!SameContent(Read(path), reference, demo.bytes, &differences)) {
        Fail("updating again does not give the undisturbed result", demo.name, kindName, n,
             " (the disturbed update gave " + std::to_string(result) + ")" + differences);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    char folder[] = "/tmp/skfaultsXXXXXX";
    if (mkdtemp(folder) == nullptr) return 2;
    g_folder = argc > 1 ? argv[1] : folder;
    const std::vector<DemoFile> set = DemoSet();
    Put(g_folder + "/" + kDemoSourceName, set.front().bytes);
    setenv("HDPathForRez", g_folder.c_str(), 1);
    setenv("TMPDIR", g_folder.c_str(), 1);
    unsetenv("SKELMORA_MESSAGE_LOG");
    // The message boxes of thousands of runs are not the campaign's report.
    // A sanitizer's report still goes where stderr went.
    std::fflush(stderr);
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(dup(2))));
#endif
    if (std::freopen("/dev/null", "w", stderr) == nullptr || Register(nullptr) != 1) return 2;

    std::printf("%-28s %s\n", "file",
                "runs: open read write seek delete move free-space allocation");
    uint64_t total = 0;
    for (size_t f = 1; f < set.size(); ++f) {
        const DemoFile &demo = set[f];
        const std::string path = g_folder + "/" + demo.name;
        for (const char *name : kTemporaryNames)
            unlink((g_folder + "/" + name).c_str());
        Put(path, demo.bytes);
        if (Road(path) != 1) Fail("the undisturbed update fails", demo.name, "no", 0);
        const Bytes reference = Read(path);
        std::printf("%-28s", demo.name.c_str());
        for (int kind : kFaultKinds) {
            uint32_t n = 1;
            while (n < kMostRuns && FaultedRun(demo, reference, kind, n))
                ++n;
            std::printf(" %5u", n);
            total += n;
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    UnRegister();
    std::printf("%llu runs, %d failed checks\n", static_cast<unsigned long long>(total),
                g_failures);
    for (const auto &[what, count] : g_failedChecks)
        std::printf("  %5d x %s\n", count, what.c_str());
    return g_failures == 0 ? 0 : 1;
}
