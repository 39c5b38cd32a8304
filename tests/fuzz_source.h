// The fuzz targets' byte source: the input delivered in two reads, split at a
// position taken from its first byte, as a socket may hand a request over.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// pos: where the next read starts (set it to 0 to read the input again).
inline auto split_source(const uint8_t* data, size_t size, size_t& pos) {
    const size_t cut = size ? data[0] % (size + 1) : 0;
    return [data, size, cut, &pos](char* buf, size_t len) -> long {
        const size_t stop = pos < cut ? cut : size;
        if (pos >= stop) return 0;
        const size_t n = std::min(len, stop - pos);
        std::copy(data + pos, data + pos + n, buf);
        pos += n;
        return static_cast<long>(n);
    };
}
