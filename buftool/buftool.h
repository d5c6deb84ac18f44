// Fixed-capacity byte buffer with one cursor and a byte order chosen at
// creation. A "short" is always 16 bits and a "long" always 32 bits here,
// whatever the platform's native widths.
#pragma once

#include <cstdint>

struct buf_tool_s {
    unsigned char* data;  // storage, `bytes` long, owned
    int32_t bytes;        // capacity, fixed at creation
    uint8_t arch;         // 1 on a big-endian host
    uint8_t swap;         // 1 when the buffer's order differs from the host's
    int32_t pos;          // cursor shared by reads and writes
};
typedef struct buf_tool_s BufTool;

BufTool* buftool_new(int max_buf_size, int big_endian);
void buftool_destroy(BufTool* buf);

unsigned char* buftool_data(BufTool* buf);
int buftool_pos(BufTool* buf);
int buftool_set_pos(BufTool* buf, int pos);
int buftool_size(BufTool* buf);

int buftool_write_byte(BufTool* buf, char data);
int buftool_write_short(BufTool* buf, int16_t data);
int buftool_write_long(BufTool* buf, int32_t data);
int buftool_write(BufTool* buf, const char* data, int bytes);

int buftool_read_byte(BufTool* buf, char* data);
int buftool_read_short(BufTool* buf, int16_t* data);
int buftool_read_long(BufTool* buf, int32_t* data);
int buftool_read(BufTool* buf, char* data, int bytes);
