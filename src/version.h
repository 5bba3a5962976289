#pragma once
#include <string_view>

// The one place the version is written: CMake reads it from here for the
// packages, and the about line must agree with it.
inline constexpr std::string_view Version = "0.2";
