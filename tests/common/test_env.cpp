#include "common/test_env.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/memory_pool.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char **environ;
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
// The C library of Windows has neither mkdtemp nor setenv.
char *mkdtemp(char *pattern) {
    if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) return nullptr;
    std::error_code failed;
    return fs::create_directory(pattern, failed) ? pattern : nullptr;
}
int setenv(const char *name, const char *value, int) {
    return _putenv_s(name, value);
}
int unsetenv(const char *name) {
    return _putenv_s(name, "");
}
#endif

}  // namespace

TempDir::TempDir(const std::string &parent) {
    std::string pattern =
        ((parent.empty() ? fs::temp_directory_path() : fs::path(parent)) / "sktest-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder under " << parent;
        return;
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string &name) const {
    return path_ + "/" + name;
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i + (i >> 8));
    return bytes;
}

std::vector<uint8_t> ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string &path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

std::vector<std::string> ListFolder(const std::string &path) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedEnvironment::ScopedEnvironment(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (old_) {
        setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

void PoolTest::SetUp() {
    ASSERT_TRUE(MemoryPoolCreate(32768));
    baselineBlocks_ = MemoryPoolBlockCount();
}

void PoolTest::TearDown() {
    MemoryPoolFailNth(0);
    EXPECT_EQ(MemoryPoolBlockCount(), baselineBlocks_) << "blocks were not given back";
    MemoryPoolDestroy();
}

#if !defined(_WIN32)
ProgramRun RunProgram(std::vector<std::string> arguments, const std::string &folder) {
    const std::string out = folder + "/out.txt", err = folder + "/err.txt";
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProgramRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &run.status, 0) == pid) {
        run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const Bytes o = ReadWholeFile(out), e = ReadWholeFile(err);
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    return run;
}
#endif
