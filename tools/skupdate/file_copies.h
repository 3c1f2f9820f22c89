// Copies of the files a run works on: backups made before the library opens a
// file, and private temporary copies that a check or a dry run opens instead of
// the file itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The whole file; false with the reason in *error.
bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);

// Copies file into folder under its own name, never over a file that is there:
// NAME, else NAME.1, NAME.2, ... The path of the copy, or empty with the reason
// in *error (nothing is left under the copy's name then).
std::string BackUpFile(const std::string &file, const std::string &folder, std::string *error);

// A folder of its own under ${TMPDIR:-/tmp}, removed with everything in it when
// the object goes.
class PrivateFolder {
  public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;

    // Empty when the folder could not be made.
    const std::string &path() const { return path_; }
    // Copies file into the folder under its own name, replacing an earlier copy
    // of that name; the path of the copy, or empty with the reason in *error.
    std::string CopyIn(const std::string &file, std::string *error) const;

  private:
    std::string path_;
};
