// The Linux host of the comparison with the Windows DLL: loads the shared
// library given as the first argument through its exported names only, as a
// real host does, and runs the commands that follow, printing one line for
// each (the Windows host, windows_host.c, prints the same):
//   register | unregister | open PATH | close | update | list CODE
//   preview CODE WIDTH HEIGHT FILE   (draws into a WIDTH x HEIGHT memory device
//                   context and writes its pixels to FILE; prints the result)
#include <dlfcn.h>
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Register = int32_t (*)(void *);
using NoArgument = int32_t (*)();
using OpenFile = int32_t (*)(const char *);
using ListText = int32_t (*)(int32_t, int32_t, char *);
using ListPicture = int32_t (*)(int32_t, int32_t, void *);
using CreateDC = void *(*)(int32_t, int32_t, uint32_t);
using DCPixels = const uint8_t *(*)(const void *);
using DeleteDC = void (*)(void *);

void *g_library = nullptr;

template <typename Function>
Function Export(const char *name) {
    void *symbol = dlsym(g_library, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "no export %s\n", name);
        std::exit(2);
    }
    return reinterpret_cast<Function>(symbol);
}

std::string Utf8(const char *text) {
    iconv_t convert = iconv_open("UTF-8", "CP932");
    char out[512] = {};
    char *in = const_cast<char *>(text), *to = out;
    size_t inLeft = std::strlen(text), toLeft = sizeof out - 1;
    iconv(convert, &in, &inLeft, &to, &toLeft);
    iconv_close(convert);
    return out;
}

int32_t Preview(int32_t code, int32_t width, int32_t height, const char *path) {
    void *dc = Export<CreateDC>("CreateMemoryDC")(width, height, 0);
    int32_t result = Export<ListPicture>("ListPicture")(code, 0, dc);
    FILE *out = std::fopen(path, "wb");
    const size_t size = size_t(width) * size_t(height) * 3;
    if (out == nullptr || std::fwrite(Export<DCPixels>("MemoryDCPixels")(dc), 1, size, out) != size)
        result = -1;
    if (out != nullptr) std::fclose(out);
    Export<DeleteDC>("DeleteMemoryDC")(dc);
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2 || (g_library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL)) == nullptr) return 2;
    for (int i = 2; i < argc; ++i) {
        const std::string command = argv[i];
        const char *argument = i + 1 < argc ? argv[i + 1] : "";
        if (command == "register") {
            std::printf("register %d\n", Export<Register>("Register")(nullptr));
        } else if (command == "unregister" || command == "close" || command == "update") {
            const char *name = command == "unregister" ? "UnRegister"
                               : command == "close"    ? "Close"
                                                       : "Update";
            std::printf("%s %d\n", command.c_str(), Export<NoArgument>(name)());
        } else if (command == "open") {
            std::printf("open %d\n", Export<OpenFile>("Open")(argument));
            ++i;
        } else if (command == "list") {
            char buffer[256] = "unchanged";
            const int32_t result = Export<ListText>("List")(std::atoi(argument), 0, buffer);
            std::printf("list %s %d %s\n", argument, result, Utf8(buffer).c_str());
            ++i;
        } else if (command == "preview" && i + 4 < argc) {
            std::printf("preview %d\n", Preview(std::atoi(argument), std::atoi(argv[i + 2]),
                                                std::atoi(argv[i + 3]), argv[i + 4]));
            i += 4;
        } else {
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
