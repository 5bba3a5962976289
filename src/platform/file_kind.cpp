#include "platform/file_kind.h"

#include <filesystem>
#include <system_error>

namespace platform {

FileKind fileKind(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) return FileKind::Missing;
    switch (status.type()) {
        case std::filesystem::file_type::regular: return FileKind::Regular;
        case std::filesystem::file_type::directory: return FileKind::Directory;
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::none: return FileKind::Missing;
        default: return FileKind::Other;
    }
}

}  // namespace platform
