#include "web/qr_code.h"

#include <array>
#include <cstdlib>
#include <mutex>

namespace {

constexpr int k_max_version = 10;
// Level M: error-correction codewords per block and number of blocks.
constexpr int k_ecc_per_block[k_max_version + 1] = {0, 10, 16, 26, 18, 24, 16, 18, 22, 22, 26};
constexpr int k_blocks[k_max_version + 1] = {0, 1, 1, 1, 2, 2, 4, 4, 4, 5, 5};

int raw_data_modules(int ver) {
    int result = (16 * ver + 128) * ver + 64;
    if (ver >= 2) {
        const int align = ver / 7 + 2;
        result -= (25 * align - 10) * align - 55;
        if (ver >= 7) result -= 36;
    }
    return result;
}

int data_codewords(int ver) {
    return raw_data_modules(ver) / 8 - k_ecc_per_block[ver] * k_blocks[ver];
}

int count_bits(int ver) {
    return ver <= 9 ? 8 : 16;
}

// ---- GF(256), polynomial 0x11D ----
struct Gf {
    std::array<uint8_t, 512> exp{};
    std::array<uint8_t, 256> log{};
};

const Gf& gf() {
    static Gf g;
    static std::once_flag once;
    std::call_once(once, [] {
        int x = 1;
        for (int i = 0; i < 255; ++i) {
            g.exp[i] = static_cast<uint8_t>(x);
            g.log[x] = static_cast<uint8_t>(i);
            x <<= 1;
            if (x & 0x100) x ^= 0x11D;
        }
        for (int i = 255; i < 512; ++i) g.exp[i] = g.exp[i - 255];
    });
    return g;
}

uint8_t gf_mul(uint8_t a, uint8_t b) {
    if (!a || !b) return 0;
    const Gf& g = gf();
    return g.exp[g.log[a] + g.log[b]];
}

std::vector<uint8_t> rs_generator(int degree) {
    std::vector<uint8_t> poly(degree, 0);  // coefficients without the leading 1
    poly[degree - 1] = 1;
    uint8_t root = 1;
    for (int i = 0; i < degree; ++i) {
        for (int j = 0; j < degree; ++j) {
            poly[j] = gf_mul(poly[j], root);
            if (j + 1 < degree) poly[j] ^= poly[j + 1];
        }
        root = gf_mul(root, 2);
    }
    return poly;
}

std::vector<uint8_t> rs_remainder(const std::vector<uint8_t>& data, const std::vector<uint8_t>& gen) {
    std::vector<uint8_t> rem(gen.size(), 0);
    for (uint8_t b : data) {
        const uint8_t factor = b ^ rem[0];
        rem.erase(rem.begin());
        rem.push_back(0);
        for (size_t i = 0; i < rem.size(); ++i) rem[i] ^= gf_mul(gen[i], factor);
    }
    return rem;
}

// Data codewords -> interleaved data and error-correction codewords.
std::vector<uint8_t> add_ecc_and_interleave(const std::vector<uint8_t>& data, int ver) {
    const int blocks = k_blocks[ver];
    const int ecc_len = k_ecc_per_block[ver];
    const int raw = raw_data_modules(ver) / 8;
    const int short_blocks = blocks - raw % blocks;
    const int short_len = raw / blocks;  // data + ecc of a short block
    const std::vector<uint8_t> gen = rs_generator(ecc_len);
    std::vector<std::vector<uint8_t>> all;
    size_t k = 0;
    for (int i = 0; i < blocks; ++i) {
        const int dlen = short_len - ecc_len + (i < short_blocks ? 0 : 1);
        std::vector<uint8_t> d(data.begin() + k, data.begin() + k + dlen);
        k += dlen;
        std::vector<uint8_t> ecc = rs_remainder(d, gen);
        if (i < short_blocks) d.push_back(0);  // placeholder, skipped below
        d.insert(d.end(), ecc.begin(), ecc.end());
        all.push_back(d);
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < all[0].size(); ++i)
        for (int j = 0; j < blocks; ++j)
            if (i != static_cast<size_t>(short_len - ecc_len) || j >= short_blocks)
                out.push_back(all[j][i]);
    return out;
}

struct Builder {
    int n;
    std::vector<uint8_t> dark, is_function;
    explicit Builder(int size) : n(size), dark(size * size, 0), is_function(size * size, 0) {}
    void set_function(int x, int y, bool d) {
        dark[y * n + x] = d;
        is_function[y * n + x] = 1;
    }
};

void draw_finder(Builder& b, int cx, int cy) {
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx) {
            const int x = cx + dx, y = cy + dy;
            if (x < 0 || y < 0 || x >= b.n || y >= b.n) continue;
            const int dist = std::max(std::abs(dx), std::abs(dy));
            b.set_function(x, y, dist != 2 && dist != 4);
        }
}

std::vector<int> alignment_positions(int ver) {
    if (ver == 1) return {};
    const int count = ver / 7 + 2;
    const int size = ver * 4 + 17;
    const int step = (ver * 8 + count * 3 + 5) / (count * 4 - 4) * 2;
    std::vector<int> pos(count);
    pos[0] = 6;
    for (int i = count - 1, p = size - 7; i >= 1; --i, p -= step) pos[i] = p;
    return pos;
}

void draw_format_bits(Builder& b, int mask) {
    const int data = (0 << 3) | mask;  // level M has the bits 00
    int rem = data;
    for (int i = 0; i < 10; ++i) rem = (rem << 1) ^ ((rem >> 9) * 0x537);
    const int bits = ((data << 10) | rem) ^ 0x5412;
    auto bit = [&](int i) { return ((bits >> i) & 1) != 0; };
    for (int i = 0; i <= 5; ++i) b.set_function(8, i, bit(i));
    b.set_function(8, 7, bit(6));
    b.set_function(8, 8, bit(7));
    b.set_function(7, 8, bit(8));
    for (int i = 9; i < 15; ++i) b.set_function(14 - i, 8, bit(i));
    for (int i = 0; i < 8; ++i) b.set_function(b.n - 1 - i, 8, bit(i));
    for (int i = 8; i < 15; ++i) b.set_function(8, b.n - 15 + i, bit(i));
    b.set_function(8, b.n - 8, true);  // the dark module
}

void draw_version_bits(Builder& b, int ver) {
    if (ver < 7) return;
    int rem = ver;
    for (int i = 0; i < 12; ++i) rem = (rem << 1) ^ ((rem >> 11) * 0x1F25);
    const long bits = static_cast<long>(ver) << 12 | rem;
    for (int i = 0; i < 18; ++i) {
        const bool d = ((bits >> i) & 1) != 0;
        const int a = b.n - 11 + i % 3, c = i / 3;
        b.set_function(a, c, d);
        b.set_function(c, a, d);
    }
}

void draw_function_patterns(Builder& b, int ver) {
    for (int i = 0; i < b.n; ++i) {
        b.set_function(6, i, i % 2 == 0);
        b.set_function(i, 6, i % 2 == 0);
    }
    draw_finder(b, 3, 3);
    draw_finder(b, b.n - 4, 3);
    draw_finder(b, 3, b.n - 4);
    const std::vector<int> al = alignment_positions(ver);
    const int na = static_cast<int>(al.size());
    for (int i = 0; i < na; ++i)
        for (int j = 0; j < na; ++j) {
            if ((i == 0 && j == 0) || (i == 0 && j == na - 1) || (i == na - 1 && j == 0)) continue;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    b.set_function(al[i] + dx, al[j] + dy,
                                   std::max(std::abs(dx), std::abs(dy)) != 1);
        }
    draw_format_bits(b, 0);  // reserves the areas; redrawn with the real mask
    draw_version_bits(b, ver);
}

void place_codewords(Builder& b, const std::vector<uint8_t>& cw) {
    size_t i = 0;
    const size_t total_bits = cw.size() * 8;
    for (int right = b.n - 1; right >= 1; right -= 2) {
        if (right == 6) right = 5;
        for (int vert = 0; vert < b.n; ++vert) {
            for (int j = 0; j < 2; ++j) {
                const int x = right - j;
                const bool upward = ((right + 1) & 2) == 0;
                const int y = upward ? b.n - 1 - vert : vert;
                if (!b.is_function[y * b.n + x] && i < total_bits) {
                    b.dark[y * b.n + x] = (cw[i >> 3] >> (7 - (i & 7))) & 1;
                    ++i;
                }
            }
        }
    }
}

bool mask_bit(int mask, int x, int y) {
    switch (mask) {
        case 0: return (x + y) % 2 == 0;
        case 1: return y % 2 == 0;
        case 2: return x % 3 == 0;
        case 3: return (x + y) % 3 == 0;
        case 4: return (x / 3 + y / 2) % 2 == 0;
        case 5: return x * y % 2 + x * y % 3 == 0;
        case 6: return (x * y % 2 + x * y % 3) % 2 == 0;
        default: return ((x + y) % 2 + x * y % 3) % 2 == 0;
    }
}

void apply_mask(Builder& b, int mask) {
    for (int y = 0; y < b.n; ++y)
        for (int x = 0; x < b.n; ++x)
            if (!b.is_function[y * b.n + x] && mask_bit(mask, x, y)) b.dark[y * b.n + x] ^= 1;
}

// Runs and finder-like sequences along one line (a row or a column).
int line_penalty(const std::vector<bool>& line) {
    const int n = static_cast<int>(line.size());
    int score = 0;
    for (int i = 0; i < n;) {
        int j = i;
        while (j < n && line[j] == line[i]) ++j;
        if (j - i >= 5) score += 3 + (j - i - 5);
        i = j;
    }
    static const bool pattern[7] = {true, false, true, true, true, false, true};
    auto light_run = [&](int from, int to) {  // [from, to) all light and inside
        if (from < 0 || to > n) return false;
        for (int k = from; k < to; ++k)
            if (line[k]) return false;
        return true;
    };
    for (int i = 0; i + 7 <= n; ++i) {
        bool match = true;
        for (int k = 0; k < 7 && match; ++k) match = line[i + k] == pattern[k];
        if (match && (light_run(i - 4, i) || light_run(i + 7, i + 11))) score += 40;
    }
    return score;
}

}  // namespace

int qr_version_for(size_t byte_count) {
    for (int v = 1; v <= k_max_version; ++v) {
        const size_t bits = 4 + count_bits(v) + 8 * byte_count;
        if ((bits + 7) / 8 <= static_cast<size_t>(data_codewords(v))) return v;
    }
    return 0;
}

int qr_penalty(const QrMatrix& m) {
    const int n = m.size;
    int score = 0;
    std::vector<bool> line(n);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) line[c] = m.at(r, c);
        score += line_penalty(line);
    }
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) line[r] = m.at(r, c);
        score += line_penalty(line);
    }
    int dark = 0;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            dark += m.at(r, c);
            if (r + 1 < n && c + 1 < n && m.at(r, c) == m.at(r, c + 1) &&
                m.at(r, c) == m.at(r + 1, c) && m.at(r, c) == m.at(r + 1, c + 1))
                score += 3;
        }
    const int p = dark * 100 / (n * n);
    score += 10 * (std::abs(p - 50) / 5);
    return score;
}

std::optional<QrMatrix> qr_encode(const std::string& text) {
    const int ver = qr_version_for(text.size());
    if (ver == 0) return std::nullopt;
    const int capacity = data_codewords(ver);
    std::vector<bool> bits;
    auto put = [&](uint32_t v, int len) {
        for (int i = len - 1; i >= 0; --i) bits.push_back(((v >> i) & 1) != 0);
    };
    put(4, 4);
    put(static_cast<uint32_t>(text.size()), count_bits(ver));
    for (unsigned char c : text) put(c, 8);
    const size_t cap_bits = static_cast<size_t>(capacity) * 8;
    put(0, static_cast<int>(std::min<size_t>(4, cap_bits - bits.size())));
    put(0, static_cast<int>((8 - bits.size() % 8) % 8));
    std::vector<uint8_t> data;
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t b = 0;
        for (int k = 0; k < 8; ++k) b = static_cast<uint8_t>(b << 1 | bits[i + k]);
        data.push_back(b);
    }
    for (uint8_t pad = 0xEC; data.size() < static_cast<size_t>(capacity); pad ^= 0xEC ^ 0x11)
        data.push_back(pad);

    const std::vector<uint8_t> codewords = add_ecc_and_interleave(data, ver);
    Builder base(ver * 4 + 17);
    draw_function_patterns(base, ver);
    place_codewords(base, codewords);

    std::optional<QrMatrix> best;
    int best_score = 0;
    for (int mask = 0; mask < 8; ++mask) {
        Builder b = base;
        apply_mask(b, mask);
        draw_format_bits(b, mask);
        QrMatrix m{ver, b.n, mask, b.dark};
        const int score = qr_penalty(m);
        if (!best || score < best_score) {
            best = std::move(m);
            best_score = score;
        }
    }
    return best;
}

std::string qr_svg(const QrMatrix& m) {
    const std::string s = std::to_string(m.size + 8);
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + s + " " + s +
                      "\" shape-rendering=\"crispEdges\"><rect width=\"" + s + "\" height=\"" + s +
                      "\" fill=\"#fff\"/><path fill=\"#0c101c\" d=\"";
    for (int r = 0; r < m.size; ++r)
        for (int c = 0; c < m.size; ++c)
            if (m.at(r, c))
                out += "M" + std::to_string(c + 4) + " " + std::to_string(r + 4) + "h1v1h-1z";
    out += "\"/></svg>\n";
    return out;
}
