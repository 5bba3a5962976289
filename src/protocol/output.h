#pragma once
#include <ostream>
#include <string>
#include <string_view>

#include "board/cell.h"

// A manager reading a pipe must see every reply line at once.
inline void writeLine(std::ostream& out, std::string_view text) {
    out << text << '\n' << std::flush;
}

// A cell as the protocol writes moves: x "," y.
inline std::string cellText(int cell) {
    return std::to_string(cellX(cell)) + ',' + std::to_string(cellY(cell));
}

// Input echoed in an error line must not break the line structure.
inline std::string printableText(std::string_view text) {
    std::string shown(text);
    for (char& c : shown)
        if (c < 0x20 || c > 0x7e) c = '?';
    return shown;
}
