#include "board/board_image.h"

#include <cstring>
#include <new>

#include "board/board.h"
#include "board/keys.h"
#include "board/line_patterns.h"
#include "board/packed_board.h"

namespace {

unsigned char* putInt32(unsigned char* at, int32_t value) {
    const uint32_t u = static_cast<uint32_t>(value);
    at[0] = static_cast<unsigned char>(u);
    at[1] = static_cast<unsigned char>(u >> 8);
    at[2] = static_cast<unsigned char>(u >> 16);
    at[3] = static_cast<unsigned char>(u >> 24);
    return at + 4;
}

int32_t int32At(const unsigned char* bytes) {
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                                static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

unsigned char* putList(unsigned char* at, const ThreatList& list) {
    int32_t cells[CellCount + 1], classes[CellCount + 1];
    list.entriesInOrder(cells, classes);
    const int n = list.size();
    at = putInt32(at, n);
    for (int i = 0; i < n; ++i) at = putInt32(at, cells[i]);
    for (int i = 0; i < n; ++i) at = putInt32(at, classes[i]);
    return at;
}

}  // namespace

size_t encodeBoardImage(const Board& board, unsigned char* bytes) {
    unsigned char* at = putInt32(bytes, board.moveCount());
    at = putInt32(at, board.lastMove());
    *at++ = static_cast<unsigned char>(board.sideToMove());
    at = putInt32(at, board.xScore());
    at = putInt32(at, board.oScore());
    at = putList(at, board.threats(1));
    at = putList(at, board.threats(0));
    std::memcpy(at, board.cellBytes(), CellCount);
    return static_cast<size_t>(at + CellCount - bytes);
}

void appendBoardImage(const Board& board, std::string& bytes) {
    unsigned char image[MaxImageBytes];
    bytes.append(reinterpret_cast<const char*>(image), encodeBoardImage(board, image));
}

bool writeBoardImage(const Board& board, std::FILE* file) {
    unsigned char image[MaxImageBytes];
    const size_t size = encodeBoardImage(board, image);
    return std::fwrite(image, 1, size, file) == size;
}

size_t imageLength(const unsigned char* bytes, size_t available) {
    size_t length = ImageHeadBytes + 4;
    for (int list = 0; list < 2; ++list) {
        if (available < length) return length;
        const int32_t n = int32At(bytes + length - 4);
        if (n < 0 || n > CellCount) return 0;
        length += 8 * static_cast<size_t>(n) + (list == 0 ? 4 : CellCount);
    }
    return length;
}

bool boardFromImageBytes(const unsigned char* bytes, size_t size, Board& board) {
    // Laid out as a PackedBoard of raw cell bytes and wide entries, which
    // unpacks to what the image says, lists in their order.
    alignas(8) unsigned char packing[sizeof(PackedBoard) + CellCount + 2 * 8 * CellCount];
    if (size < MinImageBytes || imageLength(bytes, size) != size) return false;
    PackedBoard& packed = *new (packing) PackedBoard;
    packed.moveCount = int32At(bytes);
    packed.lastMove = int32At(bytes + 4);
    packed.sideToMove = bytes[8];
    packed.xScore = int32At(bytes + 9);
    packed.oScore = int32At(bytes + 13);
    packed.savedScore = 0;
    if (packed.sideToMove > 1 || packed.lastMove < -1 || packed.lastMove >= CellCount) return false;
    const unsigned char* in = bytes + ImageHeadBytes;
    uint8_t* entries = packed.payload() + CellCount;
    uint16_t* counts[2] = {&packed.xCount, &packed.oCount};
    for (uint16_t* count : counts) {
        const int32_t n = int32At(in);
        for (int i = 0; i < n; ++i) {
            const int32_t cell = int32At(in + 4 + 4 * i);
            const int32_t threatClass = int32At(in + 4 + 4 * (n + i));
            if (cell < 0 || cell >= CellCount || threatClass < 0 || threatClass > WeakestListed) return false;
            std::memcpy(entries, &cell, 4);
            std::memcpy(entries + 4, &threatClass, 4);
            entries += 8;
        }
        *count = static_cast<uint16_t>(n);
        in += 4 + 8 * static_cast<size_t>(n);
    }
    std::memcpy(packed.payload(), in, CellCount);
    packed.positionKey = stonesKey(packed.payload());
    packed.xUpdates = packed.oUpdates = 0;
    packed.rawCells = packed.wideEntries = true;
    packed.checked = false;  // not known to follow from its stones
    unpackBoard(packed, board);
    board.trustIfFollowsFromStones();
    return true;
}

bool readBoardImage(Board& board, std::FILE* file) {
    unsigned char bytes[MaxImageBytes];
    size_t have = 0, need = ImageHeadBytes + 4;
    while (need > have) {
        const size_t want = need - have;
        const size_t got = std::fread(bytes + have, 1, want, file);
        have += got;
        if (got != want) return false;
        need = imageLength(bytes, have);
        if (need == 0) return false;
    }
    return boardFromImageBytes(bytes, have, board);
}
