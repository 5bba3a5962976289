#include "knowledge/store_stamp.h"

#include <cstdio>

#include "platform/data_directory.h"
#include "platform/file_kind.h"
#include "platform/shared_file.h"

namespace {

std::FILE* openStamp(const std::string& experiencePath, bool create) {
    const std::string path = platform::storeStampPath(experiencePath);
    const platform::FileKind kind = platform::fileKind(path);
    if (kind != platform::FileKind::Regular && !(create && kind == platform::FileKind::Missing)) return nullptr;
    std::FILE* stamp = std::fopen(path.c_str(), "r+b");
    if (!stamp && create && kind == platform::FileKind::Missing) stamp = std::fopen(path.c_str(), "w+b");
    if (stamp) std::setvbuf(stamp, nullptr, _IONBF, 0);
    return stamp;
}

uint64_t stampValue(std::FILE* stamp) {
    uint8_t bytes[8];
    if (!platform::readAt(stamp, 0, bytes, sizeof bytes)) return 0;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= uint64_t(bytes[i]) << (8 * i);
    return value;
}

bool writeStampValue(std::FILE* stamp, uint64_t value) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(value >> (8 * i));
    return platform::writeAt(stamp, 0, bytes, sizeof bytes);
}

}  // namespace

uint64_t raiseStamp(const std::string& experiencePath, uint64_t& before) {
    std::FILE* stamp = openStamp(experiencePath, true);
    before = 0;
    if (!stamp) return 0;
    before = stampValue(stamp);
    uint64_t after = before + 1;
    if (after == 0) after = 1;
    if (!writeStampValue(stamp, after)) after = 0;
    if (std::fclose(stamp) != 0) after = 0;
    return after;
}

uint64_t peekStamp(const std::string& experiencePath) {
    std::FILE* stamp = openStamp(experiencePath, false);
    if (!stamp) return 0;
    const uint64_t value = stampValue(stamp);
    std::fclose(stamp);
    return value;
}
