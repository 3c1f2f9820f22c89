#include "skupdate/file_copies.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Copies file to target, which must not exist. On failure nothing is left at
// target.
bool CopyNew(const fs::path &file, const fs::path &target, std::string *error) {
    std::error_code code;
    if (!fs::is_regular_file(file, code)) {
        *error = code ? code.message() : "not a regular file";
        return false;
    }
    if (fs::copy_file(file, target, fs::copy_options::none, code)) return true;
    *error = "cannot copy to " + target.string() + ": " + code.message();
    if (code != std::errc::file_exists) fs::remove(target, code);
    return false;
}

}  // namespace

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

std::string BackUpFile(const std::string &file, const std::string &folder, std::string *error) {
    const fs::path name = fs::path(file).filename();
    fs::path target = fs::path(folder) / name;
    std::error_code code;
    for (int n = 1; fs::exists(fs::symlink_status(target, code)); ++n)
        target = fs::path(folder) / (name.string() + "." + std::to_string(n));
    if (!CopyNew(file, target, error)) return "";
    return target.string();
}

PrivateFolder::PrivateFolder() {
    const char *parent = getenv("TMPDIR");
    std::string pattern =
        std::string(parent != nullptr && *parent != '\0' ? parent : "/tmp") + "/skupdate-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
    std::error_code code;
    if (!path_.empty()) fs::remove_all(path_, code);
}

std::string PrivateFolder::CopyIn(const std::string &file, std::string *error) const {
    if (path_.empty()) {
        *error = "no temporary folder for the copy";
        return "";
    }
    const fs::path target = fs::path(path_) / fs::path(file).filename();
    std::error_code code;
    fs::remove(target, code);
    if (!CopyNew(file, target, error)) return "";
    return target.string();
}
