#include "protocol/statistics_run.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "board/board.h"
#include "board/board_image.h"
#include "board/keys.h"
#include "board/line_patterns.h"
#include "board/packed_board.h"
#include "platform/clock.h"
#include "platform/data_directory.h"
#include "protocol/proof_lines.h"
#include "search/proof_memory.h"
#include "search/proof_number_search.h"
#include "search/proof_state.h"

namespace {

constexpr int32_t StatisticsMargin = 20000;
constexpr int64_t StatisticsMemoryLimit = 83886080;  // 80 MiB of committed memory
constexpr int StatisticsLevel = 0;

}  // namespace

namespace {

// A node file's board images, read a block at a time and handed out in
// place, each whole.
class ImageReader {
public:
    explicit ImageReader(std::FILE* file) : file(file) {}
    // The next image's bytes, or 0 when the file ends first (or fails) or a
    // count is out of range.
    size_t next(const unsigned char*& image) {
        for (size_t size = ImageHeadBytes + 4; have(size); ) {
            const size_t length = imageLength(block + begin, end - begin);
            if (length == 0) return 0;
            if (length <= end - begin) {
                image = block + begin;
                begin += length;
                taken += static_cast<int64_t>(length);
                return length;
            }
            size = length;
        }
        return 0;
    }
    // The bytes of the file handed out so far.
    int64_t offset() const { return taken; }

private:
    static constexpr size_t BlockBytes = 1 << 18;
    static_assert(BlockBytes >= MaxImageBytes);
    std::FILE* file;
    size_t begin = 0, end = 0;  // the block's bytes not handed out yet
    int64_t taken = 0;
    // One file at a time; static, so that the searches' memory figure does
    // not see it come and go.
    static unsigned char block[BlockBytes];

    // Whether the next `size` bytes are in the block, reading more if not.
    bool have(size_t size) {
        if (end - begin >= size) return true;
        std::memmove(block, block + begin, end - begin);
        end -= begin;
        begin = 0;
        while (end < size && !std::feof(file) && !std::ferror(file))
            end += std::fread(block + end, 1, BlockBytes - end, file);
        return end >= size;
    }
};

unsigned char ImageReader::block[BlockBytes];

// The text of a progress line, or of one and the report that follows it: the
// run writes close to two million lines, so they are put together by hand
// rather than formatted by the stream.
class LineText {
public:
    LineText& operator<<(const char* text) {
        const size_t n = std::strlen(text);
        std::memcpy(at, text, n);
        at += n;
        return *this;
    }
    LineText& operator<<(int64_t n) {
        at = putDecimal(at, n);
        return *this;
    }
    // A second line: "MESSAGE " and the report line.
    LineText& report(int32_t nodes, int32_t pn, int32_t dn) {
        *at++ = '\n';
        *this << "MESSAGE ";
        at = putReportLine(at, nodes, pn, dn);
        return *this;
    }
    // Written and flushed at once.
    void writeTo(std::ostream& out) {
        *at++ = '\n';
        out.write(text, at - text);
        out.flush();
        at = text;
    }

private:
    char text[128];
    char* at = text;
};

}  // namespace

namespace {

// 128 bits of the image's bytes in two independent chains: node files repeat
// positions, and a repeated image is known by these alone.
struct ImageKey {
    uint64_t a, b;
    bool operator==(const ImageKey&) const = default;
};
uint64_t finish(uint64_t x) {
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ x >> 31;
}

// Each chain runs as two halves over alternate words, which the processor
// works on side by side instead of one long chain of multiplications.
struct KeyHalves {
    uint64_t a, b;
    void take(uint64_t word) {
        a = (a ^ word) * 0x9FB21C651E98DF25ull;
        a ^= a >> 29;
        b = (b + word) * 0xD6E8FEB86659FD93ull;
        b = b << 23 | b >> 41;
    }
};

uint64_t word64(const unsigned char* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    return word;
}

ImageKey imageKey(const unsigned char* bytes, size_t size) {
    KeyHalves even{0x9E3779B97F4A7C15ull ^ size, 0xC2B2AE3D27D4EB4Full + size};
    KeyHalves odd{0x7F4A7C159E3779B9ull, 0x27D4EB4FC2B2AE3Dull};
    size_t i = 0;
    for (; size - i >= 16; i += 16) {
        even.take(word64(bytes + i));
        odd.take(word64(bytes + i + 8));
    }
    if (size - i >= 8) {
        even.take(word64(bytes + i));
        i += 8;
    }
    if (i < size) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, size - i);
        odd.take(word);
    }
    const uint64_t oddA = finish(odd.a), oddB = finish(odd.b);
    const uint64_t a = finish(even.a) ^ (oddA << 32 | oddA >> 32);
    const uint64_t b = finish(even.b) ^ (oddB << 29 | oddB >> 35);
    return {a, finish(b ^ a >> 7)};
}

// What a search of an image wrote and left behind, for the image's repeats.
struct SearchResult {
    bool reported;  // the search wrote its report line
    int32_t nodes, pn, dn;
    int64_t iterations;
    uint32_t ids;  // node ids it took
};
// The images searched so far, by key: open addressing in one array, since a
// file holds up to hundreds of thousands of them.
class KnownImages {
public:
    KnownImages() : slots(64) {}
    const SearchResult* find(const ImageKey& key) const {
        for (size_t i = key.a & (slots.size() - 1);; i = (i + 1) & (slots.size() - 1)) {
            const Slot& slot = slots[i];
            if (!slot.used) return nullptr;
            if (slot.key == key) return &slot.result;
        }
    }
    // Precondition: the key is not known yet.
    void insert(const ImageKey& key, const SearchResult& result) {
        if (2 * (count + 1) > slots.size()) grow();
        place(key, result);
    }
    // Changes only when the table takes more memory.
    size_t capacity() const { return slots.size(); }

private:
    struct Slot {
        ImageKey key;
        SearchResult result;
        bool used = false;
    };
    std::vector<Slot> slots;  // a power of two, at most half of them used
    size_t count = 0;

    void place(const ImageKey& key, const SearchResult& result) {
        size_t i = key.a & (slots.size() - 1);
        while (slots[i].used) i = (i + 1) & (slots.size() - 1);
        slots[i] = {key, result, true};
        ++count;
    }
    void grow() {
        std::vector<Slot> old(2 * slots.size());
        old.swap(slots);
        count = 0;
        for (const Slot& slot : old)
            if (slot.used) place(slot.key, slot.result);
    }
};

// Whether a search's result followed from its position alone, so that a
// repeat of the image may take it without searching: not cut short for
// memory, and not stopped by the clock unless the deadline was already due
// after the first iteration.
bool repeatable(SearchEnd end, int32_t timeoutTurn) {
    return end != SearchEnd::Memory && (end != SearchEnd::Clock || timeoutTurn <= 0);
}

// Searches every whole board image of an open node file in turn.
void runNodeFile(SearchContext& context, std::FILE* file, int fileIndex, int fileTotal, int32_t timeoutTurn,
                 std::ostream& out) {
    int64_t size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    ImageReader reader(file);
    LineText line;
    // The operator sets the time per position with INFO timeout_turn.
    const int64_t searchTime = std::clamp<int64_t>(int64_t{StatisticsMargin} + timeoutTurn, 0, INT32_MAX);
    Board board;  // one position at a time
    KnownImages known;  // per file: the files hardly share positions
    size_t capacityAtSearch = known.capacity();
    for (;;) {
        const unsigned char* bytes = nullptr;
        const size_t imageSize = reader.next(bytes);
        if (imageSize == 0) break;  // end of file, or a truncated image
        const ImageKey key = imageKey(bytes, imageSize);
        const SearchResult* seen = known.find(key);
        if (!seen && !boardFromImageBytes(bytes, imageSize, board)) break;  // impossible values
        // 64-bit, so that files past 21 MB still show a true percentage.
        const int64_t percent = size > 0 ? reader.offset() * 100 / size : 0;
        line << "Pocitam... " << int64_t{fileIndex} << " z " << int64_t{fileTotal} << ", " << percent << "%";
        if (seen) {
            const SearchResult& r = *seen;
            if (r.reported) context.nodeCounter = r.nodes;
            idCounter += r.ids;
            // Like the search it stands for, it took no measurable time: no
            // rate line, and the report goes out with the progress line.
            if (r.reported) line.report(r.nodes, r.pn, r.dn);
            line.writeTo(out);
            continue;
        }
        line.writeTo(out);
        const uint32_t idsBefore = idCounter;
        ProofNode* root = createNode(nullptr, board);
        context.moveDeadline = platform::clockAdd(platform::clockMs(), static_cast<int32_t>(searchTime));
        // Between two positions the run holds one Board, the file's buffer and
        // the known images, unless their table has grown since.
        if (known.capacity() == capacityAtSearch) carryMemoryReading();
        capacityAtSearch = known.capacity();
        ProofSearchResult searched;
        try {
            searched = proofNumberSearch(context, root, StatisticsMargin, StatisticsMemoryLimit, StatisticsLevel,
                                         eventLines(out));
        } catch (...) {
            deleteNode(root);
            throw;
        }
        deleteNode(root);
        const ProofNumbers& numbers = searched.rootNumbers;
        if (searched.searched) {
            writeReportLine(out, searched.nodes, numbers.pn, numbers.dn);
            writeRateLine(out, searched);
        }
        const SearchResult result{searched.searched, searched.nodes, numbers.pn, numbers.dn, searched.iterations, 0};
        if (repeatable(searched.end, timeoutTurn)) {
            SearchResult kept = result;
            kept.ids = idCounter - idsBefore;
            known.insert(key, kept);
        }
    }
}

}  // namespace

void statisticsRun(SearchContext& context, int first, int last, int32_t timeoutTurn, std::ostream& out) {
    for (int k = first; k <= last; ++k) {
        std::FILE* file = std::fopen(platform::dataPath(platform::nodeFilePath(k)).c_str(), "rb");
        if (!file) continue;
        try {
            runNodeFile(context, file, k - first + 1, last - first + 1, timeoutTurn, out);
        } catch (...) {
            std::fclose(file);
            throw;
        }
        if (std::fclose(file) != 0) out << "Soubor nelze zavrit.\n" << std::flush;
    }
}
