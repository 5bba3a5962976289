#include "platform/executable_path.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <unistd.h>

#include <climits>
#endif

namespace platform {

#ifdef _WIN32
namespace {

// The narrow file functions take the ANSI code page; a name it cannot spell
// (a user folder in another script) is given by its short 8.3 form instead.
std::string narrowPath(const std::wstring& wide) {
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                         nullptr, &lossy);
    if (size <= 0) return "";
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, narrow.data(), size, nullptr, &lossy);
    narrow.resize(static_cast<size_t>(size) - 1);
    return lossy ? "" : narrow;
}

std::wstring shortPath(const std::wstring& wide) {
    const DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (size == 0) return L"";
    std::vector<wchar_t> buffer(size);
    if (GetShortPathNameW(wide.c_str(), buffer.data(), size) == 0) return L"";
    return buffer.data();
}

}  // namespace
#endif

std::string executableDirectory() {
#ifdef _WIN32
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return "";
        if (length < buffer.size()) break;
        if (buffer.size() >= 32768) return "";
        buffer.resize(buffer.size() * 2);
    }
    std::wstring wide = buffer.data();
    const size_t slash = wide.find_last_of(L"/\\");
    if (slash == std::wstring::npos) return "";
    wide.resize(slash);
    std::string narrow = narrowPath(wide);
    return narrow.empty() ? narrowPath(shortPath(wide)) : narrow;
#else
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return "";
    const std::string path(buffer, static_cast<size_t>(length));
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash == 0 ? 1 : slash);
#endif
}

}  // namespace platform
