#include <gtest/gtest.h>

#include "knowledge/node_record.h"

namespace {

uint32_t wordAt(const uint8_t* bytes, int offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

}  // namespace

TEST(NodeRecord, FieldsSitAtTheirOffsetsLittleEndian) {
    NodeRecord r;
    r.move = 211;
    r.nextSibling = 0x01020304;
    r.firstChild = -1;
    r.parent = 96;
    r.stats.proof = -1;
    r.stats.disproof = 7;
    r.stats.secondWinsCut = 0x11223344;
    r.stats.secondWinsWhole = 5;
    r.stats.iterations = 9;
    r.stats.outcome = 3;
    r.stats.ply = 511;
    r.stats.toEnd = 300;
    uint8_t bytes[RecordSize];
    encodeRecord(r, bytes);

    EXPECT_EQ(bytes[0], 211);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);  // padding
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(bytes[4], 0x04);
    EXPECT_EQ(bytes[7], 0x01);
    EXPECT_EQ(wordAt(bytes, 8), 0xFFFFFFFFu);
    EXPECT_EQ(wordAt(bytes, 12), 96u);
    for (int i = 16; i < 24; ++i) EXPECT_EQ(bytes[i], 0) << "reserved byte " << i;
    EXPECT_EQ(wordAt(bytes, 24), 0xFFFFFFFFu);
    EXPECT_EQ(wordAt(bytes, 28), 7u);
    EXPECT_EQ(wordAt(bytes, 32), 0x11223344u);
    EXPECT_EQ(wordAt(bytes, 36), 5u);
    EXPECT_EQ(wordAt(bytes, 40), 9u);
    EXPECT_EQ(wordAt(bytes, 44), 3u | 511u << 3 | 300u << 12);
    EXPECT_EQ(decodeRecord(bytes), r);
}

TEST(NodeRecord, DecodingIgnoresTheUnusedBits) {
    uint8_t bytes[RecordSize] = {};
    bytes[0] = 0xFF;  // move -1
    bytes[1] = 0xFF;
    const uint32_t word = 2u | 1u << 2 | 6u << 3 | 3u << 12 | 0x7FFu << 21;
    for (int i = 0; i < 4; ++i) bytes[44 + i] = uint8_t(word >> (8 * i));
    for (int i = 16; i < 24; ++i) bytes[i] = 0xAB;
    const NodeRecord r = decodeRecord(bytes);
    EXPECT_EQ(r.move, -1);
    EXPECT_EQ(r.stats.outcome, 2);
    EXPECT_EQ(r.stats.ply, 6);
    EXPECT_EQ(r.stats.toEnd, 3);
    uint8_t again[RecordSize];
    encodeRecord(r, again);
    EXPECT_EQ(wordAt(again, 44), 2u | 6u << 3 | 3u << 12);
    EXPECT_EQ(again[16], 0);
}

TEST(NodeRecord, StatsLine) {
    struct Case {
        int proof, disproof, outcome, whole, cut, iterations, ply, toEnd;
        const char* line;
    };
    const Case cases[] = {
        {1, 1, 1, 0, 0, 0, 6, 3, "{1,1}, 1 0/0 iter=0 deep=6|3"},
        {-1, 0, 3, 12, 4, 0, 511, 20, "{OO,0}, 3 12/4 iter=0 deep=511|20"},
        {0, -7, 0, 1, 0, 42, 0, 0, "{0,OO}, 0 1/0 iter=42 deep=0|0"},
    };
    for (const Case& c : cases) {
        NodeStats s;
        s.proof = c.proof;
        s.disproof = c.disproof;
        s.outcome = c.outcome;
        s.secondWinsWhole = c.whole;
        s.secondWinsCut = c.cut;
        s.iterations = c.iterations;
        s.ply = c.ply;
        s.toEnd = c.toEnd;
        EXPECT_EQ(statsLine(s), c.line);
    }
}
