// The byte buffer: byte order on the way in and out, room checks that leave
// everything untouched on failure, and the null-buffer accessors.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

#include "buftool.h"

namespace {

struct BufDeleter {
    void operator()(BufTool* buf) const { buftool_destroy(buf); }
};
using Buf = std::unique_ptr<BufTool, BufDeleter>;

Buf MakeBuf(int size, int big_endian = 0)
{
    Buf buf(buftool_new(size, big_endian));
    EXPECT_NE(buf, nullptr) << "buftool_new(" << size << ") failed";
    return buf;
}

std::vector<unsigned char> Bytes(BufTool* buf, int n)
{
    return {buftool_data(buf), buftool_data(buf) + n};
}

TEST(BufTool, FreshBufferReadsZeros)
{
    auto buf = MakeBuf(8);
    int32_t lg = -1;
    int16_t st = -1;
    char ch = 'x';
    EXPECT_EQ(buftool_read_long(buf.get(), &lg), 4);
    EXPECT_EQ(buftool_read_short(buf.get(), &st), 2);
    EXPECT_EQ(buftool_read_byte(buf.get(), &ch), 1);
    EXPECT_EQ(lg, 0);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(ch, 0);
    EXPECT_EQ(buftool_pos(buf.get()), 7);
    EXPECT_EQ(buftool_size(buf.get()), 8);
}

TEST(BufTool, ByteOrderOfBothKindsOnThisHost)
{
    struct Case {
        int big_endian;
        std::vector<unsigned char> expected;
    };
    for (const Case& c : {Case{0, {0x04, 0x03, 0x02, 0x01, 0x34, 0x12}},
                          Case{1, {0x01, 0x02, 0x03, 0x04, 0x12, 0x34}}}) {
        SCOPED_TRACE(c.big_endian ? "big-endian buffer" : "little-endian buffer");
        auto buf = MakeBuf(6, c.big_endian);
        ASSERT_EQ(buftool_write_long(buf.get(), 0x01020304), 4);
        ASSERT_EQ(buftool_write_short(buf.get(), 0x1234), 2);
        EXPECT_EQ(Bytes(buf.get(), 6), c.expected);

        buftool_set_pos(buf.get(), 0);
        int32_t lg = 0;
        int16_t st = 0;
        EXPECT_EQ(buftool_read_long(buf.get(), &lg), 4);
        EXPECT_EQ(buftool_read_short(buf.get(), &st), 2);
        EXPECT_EQ(lg, 0x01020304);
        EXPECT_EQ(st, 0x1234);
    }
}

TEST(BufTool, ReadsAreSigned)
{
    auto buf = MakeBuf(6);
    const char wire[] = {'\xFE', '\xFF', '\xFF', '\xFF', '\xFF', '\x7F'};
    ASSERT_EQ(buftool_write(buf.get(), wire, 6), 6);
    buftool_set_pos(buf.get(), 0);
    int16_t st = 0;
    int32_t lg = 0;
    EXPECT_EQ(buftool_read_short(buf.get(), &st), 2);
    EXPECT_EQ(buftool_read_long(buf.get(), &lg), 4);
    EXPECT_EQ(st, -2);
    EXPECT_EQ(lg, static_cast<int32_t>(0x7FFFFFFF));
}

TEST(BufTool, ResponseHeaderLayoutFillsExactly)
{
    auto buf = MakeBuf(12);
    const char wire[] = "zel0\x01\x00\x02\x00\x05\x00\x00\x00";
    ASSERT_EQ(buftool_write(buf.get(), wire, 12), 12);
    buftool_set_pos(buf.get(), 0);
    char magic[4];
    int16_t code = 0, status = 0;
    int32_t length = 0;
    EXPECT_EQ(buftool_read(buf.get(), magic, 4), 4);
    EXPECT_EQ(buftool_read_short(buf.get(), &code), 2);
    EXPECT_EQ(buftool_read_short(buf.get(), &status), 2);
    EXPECT_EQ(buftool_read_long(buf.get(), &length), 4);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(buftool_pos(buf.get()), 12);
    char ch;
    EXPECT_EQ(buftool_read_byte(buf.get(), &ch), -1);
}

// Every access that does not fit returns -1 and changes neither the
// buffer, the destination nor the cursor.
TEST(BufTool, AccessThatDoesNotFitChangesNothing)
{
    struct Case {
        const char* what;
        int size;
        int pos;
        int (*access)(BufTool*);
    };
    static char block[8];
    const Case cases[] = {
        {"long into 4-byte buffer at 1", 4, 1, [](BufTool* b) { return buftool_write_long(b, 7); }},
        {"second long into 4-byte buffer", 4, 4,
         [](BufTool* b) { return buftool_write_long(b, 7); }},
        {"short at size-1", 5, 4, [](BufTool* b) { return buftool_write_short(b, 7); }},
        {"byte at size", 5, 5, [](BufTool* b) { return buftool_write_byte(b, 7); }},
        {"block of 3 at size-2", 5, 3, [](BufTool* b) { return buftool_write(b, block, 3); }},
        {"read long at size-3", 5, 2,
         [](BufTool* b) {
             int32_t v;
             return buftool_read_long(b, &v);
         }},
        {"read short at size-1", 5, 4,
         [](BufTool* b) {
             int16_t v;
             return buftool_read_short(b, &v);
         }},
        {"read byte at size", 5, 5,
         [](BufTool* b) {
             char v;
             return buftool_read_byte(b, &v);
         }},
        {"read block of 3 at size-2", 5, 3, [](BufTool* b) { return buftool_read(b, block, 3); }},
        {"cursor far beyond", 12, 100, [](BufTool* b) { return buftool_write_byte(b, 7); }},
        {"cursor far beyond, read", 12, 100,
         [](BufTool* b) {
             char v;
             return buftool_read_byte(b, &v);
         }},
        {"cursor near INT_MAX", 12, INT_MAX - 1,
         [](BufTool* b) { return buftool_write_long(b, 7); }},
        {"negative cursor", 12, -1, [](BufTool* b) { return buftool_write_byte(b, 7); }},
        {"negative cursor, read", 12, -4,
         [](BufTool* b) {
             int32_t v;
             return buftool_read_long(b, &v);
         }},
        {"negative block size", 12, 0, [](BufTool* b) { return buftool_write(b, block, -1); }},
        {"negative block size, read", 12, 4, [](BufTool* b) { return buftool_read(b, block, -4); }},
        {"block size INT_MIN", 12, 0, [](BufTool* b) { return buftool_read(b, block, INT_MIN); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto buf = MakeBuf(c.size);
        const auto before = Bytes(buf.get(), c.size);
        buftool_set_pos(buf.get(), c.pos);
        EXPECT_EQ(c.access(buf.get()), -1);
        EXPECT_EQ(buftool_pos(buf.get()), c.pos);
        EXPECT_EQ(Bytes(buf.get(), c.size), before);
    }
}

TEST(BufTool, FailedReadLeavesDestinationUntouched)
{
    auto buf = MakeBuf(3);
    int32_t lg = 0x55AA55AA;
    EXPECT_EQ(buftool_read_long(buf.get(), &lg), -1);
    EXPECT_EQ(lg, 0x55AA55AA);
}

TEST(BufTool, ByteThenShortAtTheLastByte)
{
    auto buf = MakeBuf(5);
    buftool_set_pos(buf.get(), 4);
    EXPECT_EQ(buftool_write_short(buf.get(), 1), -1);
    EXPECT_EQ(buftool_write_byte(buf.get(), 'a'), 1);
    EXPECT_EQ(buftool_pos(buf.get()), 5);
}

TEST(BufTool, EmptyBlockFitsEvenAtTheEnd)
{
    auto buf = MakeBuf(4);
    buftool_set_pos(buf.get(), 4);
    char none[1];
    EXPECT_EQ(buftool_write(buf.get(), none, 0), 0);
    EXPECT_EQ(buftool_read(buf.get(), none, 0), 0);
    EXPECT_EQ(buftool_pos(buf.get()), 4);
}

TEST(BufTool, SetPosStoresAnyValue)
{
    auto buf = MakeBuf(12);
    EXPECT_EQ(buftool_set_pos(buf.get(), 100), 100);
    EXPECT_EQ(buftool_pos(buf.get()), 100);
    EXPECT_EQ(buftool_set_pos(buf.get(), 0), 0);
    EXPECT_EQ(buftool_write_byte(buf.get(), 1), 1);
}

TEST(BufTool, NullBufferAccessors)
{
    EXPECT_EQ(buftool_data(nullptr), nullptr);
    EXPECT_EQ(buftool_pos(nullptr), -1);
    EXPECT_EQ(buftool_size(nullptr), -1);
    EXPECT_EQ(buftool_set_pos(nullptr, 5), -1);
    buftool_destroy(nullptr);
}

TEST(BufTool, ZeroAndNegativeCapacity)
{
    auto empty = MakeBuf(0);
    char ch;
    EXPECT_EQ(buftool_write_byte(empty.get(), 1), -1);
    EXPECT_EQ(buftool_read_byte(empty.get(), &ch), -1);
    EXPECT_EQ(buftool_new(-1, 0), nullptr);
}

}  // namespace
