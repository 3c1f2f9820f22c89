// The Resource Manager tests' fixture (kit-built files in the test's folder,
// every file and Handle given back at the end) and small builders.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/test_env.h"
#include "platform/fault_platform.h"
#include "resources/handles.h"
#include "resources/resource_manager.h"
#include "rezkit/rezkit.h"
#include "support/fault_run.h"

constexpr uint32_t kData = FourCC("DATA");
constexpr uint32_t kFADP = FourCC("FADP");
constexpr uint32_t kFsTI = FourCC("FsTI");
constexpr uint32_t kPICT = FourCC("PICT");
constexpr uint32_t kSkFs = FourCC("SkFs");
constexpr uint32_t kSTR = FourCC("STR ");
constexpr uint32_t kSTRList = FourCC("STR#");
constexpr uint32_t kWatr = FourCC("Watr");
constexpr uint32_t kWnew = FourCC("Wnew");

// The dead-bytes counter in the info block of layout 1500.
constexpr size_t kDeadBytesField = 32;

// A damage done to a file image, with what it is.
using Damage = std::pair<const char *, std::function<void(Bytes &)>>;

inline Bytes Text(const std::string &text) {
    return Bytes(text.begin(), text.end());
}
// A Str255: the length byte and the characters (at most 255).
Bytes Str255Of(const std::string &text);
// Four-character types separated by spaces: "PLPC PLDP".
std::vector<uint32_t> TypeCodes(const std::string &codes);

// A file of layout 1500 with these types and otherwise the defaults.
inline FixtureFile Described(std::vector<FixtureType> types) {
    FixtureFile file;
    file.types = std::move(types);
    return file;
}
// Reads bytes with the format kit's strict reader; a failure fails the test.
FixtureFile Parse(const Bytes &bytes);
// The resource of that type and id in a parsed file, or null.
const FixtureResource *Find(const FixtureFile &file, uint32_t type, int16_t id);
// Sets a field of the file header and of its copy at the start of the map.
void PutHeaderField(Bytes &bytes, size_t field, uint32_t value);

// Success when h is null and ResourceError is -192: a Get that found nothing.
testing::AssertionResult NotFound(Handle h);

// What GetResourceInfo gives for h: id, type and name (a Str255).
std::tuple<int, uint32_t, Bytes> InfoOf(Handle h);

// A new registered Handle holding data, and the bytes a Handle holds.
Handle HandleWith(const Bytes &data);
inline Bytes BytesOf(Handle h) {
    return h == nullptr || *h == nullptr ? Bytes() : Bytes(*h, *h + GetHandleSize(h));
}

// A bitmap file image whose pixels differ from their neighbours, with a palette
// of 2^bits grey steps at up to 8 bits per pixel.
Bytes Bitmap(int32_t width, int32_t height, uint16_t bits);

// The reference numbers of the open files chain, earliest first.
std::vector<uint16_t> ChainNumbers();

constexpr int Op(PlatformOp op) {
    return static_cast<int>(op);
}
std::vector<int> AllFaultKinds();

// The standard test of a writer. For every kind and n = 1, 2, ... until the
// fault no longer fires (or the test fails): prepare() runs unfaulted, attempt()
// with the n-th call of that kind failing, then check(kind, fired).
void ForEachFault(const std::vector<int> &kinds, const std::function<void()> &prepare,
                  const std::function<void()> &attempt,
                  const std::function<void(int kind, bool fired)> &check);

class ResourceFileTest : public PoolTest {
  public:
    void SetUp() override;
    void TearDown() override;

    // Writes bytes (or the described file) as name in the test's folder; the path.
    std::string Write(const std::string &name, const Bytes &bytes);
    std::string Write(const std::string &name, const FixtureFile &file) {
        return Write(name, BuildResourceFile(file));
    }
    static uint16_t Open(const std::string &path) {
        return OpenResourceFile(Str255Of(path).data());
    }
    // Closes every open file, then disposes every Handle taken through Own that
    // still lives: the library leaves Handles in slots to their holder.
    void CloseAll();

    // Remembers h (of type, which decides how it is disposed) for CloseAll.
    Handle Own(Handle h, uint32_t type);
    Handle Get(uint32_t type, int16_t id) { return Own(GetResource(type, id), type); }
    // Adds h (or a new Handle holding data) to the current file, expecting success.
    Handle Add(Handle h, uint32_t type, int16_t id, const std::string &name);
    Handle Add(const Bytes &data, uint32_t type, int16_t id, const std::string &name) {
        return Add(HandleWith(data), type, id, name);
    }

  private:
    std::map<Handle, uint32_t> owned_;
};
