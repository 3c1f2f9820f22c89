// Shared test helpers: temporary folders, whole-file reads and writes that
// bypass the library, and a fixture that checks every block is given back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A fresh folder under parent (by default the system's temporary folder),
// removed with its contents when the object goes.
class TempDir {
  public:
    explicit TempDir(const std::string &parent = "");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + name.
    std::string File(const std::string &name) const;

  private:
    std::string path_;
};

using Bytes = std::vector<uint8_t>;

// size bytes, seed + i at place i (plus i / 256), so that a shift shows.
Bytes Pattern(size_t size, uint8_t seed = 0);

std::vector<uint8_t> ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::vector<uint8_t> &bytes);
bool FileExists(const std::string &path);
// Names in a folder, sorted.
std::vector<std::string> ListFolder(const std::string &path);

// Runs a program (arguments[0] is its path); its exit status (-1 when it did
// not exit) and its standard output and error, through files in folder.
struct ProgramRun {
    int status = -1;
    std::string out, err;
};
ProgramRun RunProgram(std::vector<std::string> arguments, const std::string &folder);

// Sets an environment variable (unsets it for null) for the life of the
// object, then puts back what was there.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char *name, const char *value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Creates the memory pool before each test and, after it, expects every block to
// have been given back before destroying the pool.
class PoolTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Blocks held at the start of the test (the handle registry keeps none).
    uint32_t baselineBlocks_ = 0;
    TempDir temp_;
};
