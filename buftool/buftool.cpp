#include "buftool.h"

#include <cstdlib>
#include <cstring>

namespace {

// Whether `n` bytes fit at the cursor. Written against `bytes - n` so that
// it cannot overflow; a negative cursor or size never fits.
bool fits(const BufTool* buf, int n)
{
    return n >= 0 && buf->pos >= 0 && buf->pos <= buf->bytes - n;
}

// Copies `n` bytes (n <= 4) from `src` to `dst`, reversed when `swap` is set.
void copy_ordered(unsigned char* dst, const unsigned char* src, int n, bool swap)
{
    for (int i = 0; i < n; ++i) {
        dst[i] = src[swap ? n - 1 - i : i];
    }
}

int put(BufTool* buf, const void* value, int n, bool ordered)
{
    if (!fits(buf, n)) {
        return -1;
    }
    const auto* src = static_cast<const unsigned char*>(value);
    if (ordered) {
        copy_ordered(buf->data + buf->pos, src, n, buf->swap != 0);
    } else if (n > 0) {
        std::memcpy(buf->data + buf->pos, src, n);
    }
    buf->pos += n;
    return n;
}

int get(BufTool* buf, void* value, int n, bool ordered)
{
    if (!fits(buf, n)) {
        return -1;
    }
    auto* dst = static_cast<unsigned char*>(value);
    if (ordered) {
        copy_ordered(dst, buf->data + buf->pos, n, buf->swap != 0);
    } else if (n > 0) {
        std::memcpy(dst, buf->data + buf->pos, n);
    }
    buf->pos += n;
    return n;
}

}  // namespace

// Makes a zero-filled buffer of fixed capacity in the given byte order.
BufTool* buftool_new(int max_buf_size, int big_endian)
{
    if (max_buf_size < 0) {
        return nullptr;
    }
    auto* buf = static_cast<BufTool*>(std::calloc(1, sizeof(BufTool)));
    // calloc(0) may return null legitimately; ask for at least one byte.
    auto* data = static_cast<unsigned char*>(std::calloc(max_buf_size > 0 ? max_buf_size : 1, 1));
    if (buf == nullptr || data == nullptr) {
        std::free(buf);
        std::free(data);
        return nullptr;
    }
    const uint16_t probe = 1;
    unsigned char probe_bytes[2];
    std::memcpy(probe_bytes, &probe, sizeof probe_bytes);
    buf->data = data;
    buf->bytes = max_buf_size;
    buf->arch = probe_bytes[1];
    buf->swap = buf->arch != big_endian ? 1 : 0;
    buf->pos = 0;
    return buf;
}

// Frees the storage and the record; a null buffer is ignored.
void buftool_destroy(BufTool* buf)
{
    if (buf == nullptr) {
        return;
    }
    std::free(buf->data);
    std::free(buf);
}

unsigned char* buftool_data(BufTool* buf)
{
    return buf != nullptr ? buf->data : nullptr;
}

int buftool_pos(BufTool* buf)
{
    return buf != nullptr ? buf->pos : -1;
}

// Moves the cursor without a range check: accesses check it instead.
int buftool_set_pos(BufTool* buf, int pos)
{
    if (buf == nullptr) {
        return -1;
    }
    buf->pos = pos;
    return pos;
}

int buftool_size(BufTool* buf)
{
    return buf != nullptr ? buf->bytes : -1;
}

int buftool_write_byte(BufTool* buf, char data)
{
    return put(buf, &data, 1, false);
}

int buftool_write_short(BufTool* buf, int16_t data)
{
    return put(buf, &data, 2, true);
}

int buftool_write_long(BufTool* buf, int32_t data)
{
    return put(buf, &data, 4, true);
}

int buftool_write(BufTool* buf, const char* data, int bytes)
{
    return put(buf, data, bytes, false);
}

int buftool_read_byte(BufTool* buf, char* data)
{
    return get(buf, data, 1, false);
}

int buftool_read_short(BufTool* buf, int16_t* data)
{
    return get(buf, data, 2, true);
}

int buftool_read_long(BufTool* buf, int32_t* data)
{
    return get(buf, data, 4, true);
}

int buftool_read(BufTool* buf, char* data, int bytes)
{
    return get(buf, data, bytes, false);
}
