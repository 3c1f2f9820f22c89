#include "skupdate/previews.h"

#include <filesystem>

#include "skupdater.h"

std::string SavePreview(const std::string &pngPath, int32_t width, int32_t height) {
    void *dc = CreateMemoryDC(width, height, 0);
    if (dc == nullptr)
        return "no memory for a " + std::to_string(width) + "x" + std::to_string(height) +
               " picture";
    std::string problem;
    if (ListPicture(200, 0, dc) != 1) {
        problem = "the library could not draw the picture";
    } else if (SaveMemoryDC(dc, pngPath.c_str()) != 1) {
        problem = "cannot save " + pngPath;
    }
    DeleteMemoryDC(dc);
    return problem;
}

std::string PreviewPath(const std::string &folder, const std::string &file,
                        std::set<std::string> *taken) {
    const std::string stem = std::filesystem::path(file).stem().string();
    std::string name = stem + ".png";
    for (int n = 2; !taken->insert(name).second; ++n)
        name = stem + "-" + std::to_string(n) + ".png";
    return (std::filesystem::path(folder) / name).string();
}
