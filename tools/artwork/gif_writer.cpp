#include "gif_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

namespace artwork {
namespace {

constexpr int MaxColours = 255; // one index stays free for transparency
constexpr int MaxLzwCode = 4095;

struct ColourCount {
    QRgb rgb = 0;
    std::int64_t count = 0;
};

int Channel(QRgb rgb, int axis)
{
    switch (axis) {
    case 0: return qRed(rgb);
    case 1: return qGreen(rgb);
    default: return qBlue(rgb);
    }
}

// One box of the median cut: a run [begin, end) of the colour list.
struct Box {
    std::size_t begin = 0, end = 0;
    int axis = 0;
    int range = 0;
    std::int64_t weight = 0;
};

void MeasureBox(const std::vector<ColourCount>& colours, Box& box)
{
    std::array<int, 3> lo{255, 255, 255}, hi{0, 0, 0};
    box.weight = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], Channel(colours[i].rgb, a));
            hi[a] = std::max(hi[a], Channel(colours[i].rgb, a));
        }
        box.weight += colours[i].count;
    }
    box.axis = 0;
    box.range = -1;
    for (int a = 0; a < 3; ++a) {
        if (hi[a] - lo[a] > box.range) {
            box.range = hi[a] - lo[a];
            box.axis = a;
        }
    }
}

QRgb AverageColour(const std::vector<ColourCount>& colours, const Box& box)
{
    std::int64_t r = 0, g = 0, b = 0, n = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
        r += qRed(colours[i].rgb) * colours[i].count;
        g += qGreen(colours[i].rgb) * colours[i].count;
        b += qBlue(colours[i].rgb) * colours[i].count;
        n += colours[i].count;
    }
    auto avg = [n](std::int64_t sum) { return static_cast<int>((sum + n / 2) / n); };
    return qRgb(avg(r), avg(g), avg(b));
}

// Median cut over the distinct colours, weighted by pixel count. Ties are broken by the
// colour value so the palette depends on the pixels alone.
std::vector<QRgb> BuildPalette(const std::map<QRgb, std::int64_t>& histogram)
{
    std::vector<ColourCount> colours;
    colours.reserve(histogram.size());
    for (const auto& [rgb, count] : histogram) colours.push_back({rgb, count});
    if (colours.size() <= static_cast<std::size_t>(MaxColours)) {
        std::vector<QRgb> palette;
        for (const auto& c : colours) palette.push_back(c.rgb);
        return palette;
    }

    std::vector<Box> boxes(1);
    boxes[0].end = colours.size();
    MeasureBox(colours, boxes[0]);
    while (boxes.size() < static_cast<std::size_t>(MaxColours)) {
        // Split the box with the widest spread, weighted so busy regions get more entries.
        std::size_t pick = boxes.size();
        double best = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2 || boxes[i].range <= 0) continue;
            const double score = static_cast<double>(boxes[i].range) *
                                 std::sqrt(static_cast<double>(boxes[i].weight));
            if (score > best) {
                best = score;
                pick = i;
            }
        }
        if (pick == boxes.size()) break;
        Box box = boxes[pick];
        const int axis = box.axis;
        std::sort(colours.begin() + static_cast<std::ptrdiff_t>(box.begin),
                  colours.begin() + static_cast<std::ptrdiff_t>(box.end),
                  [axis](const ColourCount& x, const ColourCount& y) {
                      const int cx = Channel(x.rgb, axis), cy = Channel(y.rgb, axis);
                      return cx != cy ? cx < cy : x.rgb < y.rgb;
                  });
        std::int64_t half = box.weight / 2, seen = 0;
        std::size_t cut = box.begin;
        while (cut < box.end - 1 && seen + colours[cut].count <= half) seen += colours[cut++].count;
        if (cut == box.begin) ++cut;
        Box lower{box.begin, cut, 0, 0, 0}, upper{cut, box.end, 0, 0, 0};
        MeasureBox(colours, lower);
        MeasureBox(colours, upper);
        boxes[pick] = lower;
        boxes.push_back(upper);
    }
    std::vector<QRgb> palette;
    for (const auto& box : boxes) palette.push_back(AverageColour(colours, box));
    return palette;
}

int Nearest(const std::vector<QRgb>& palette, QRgb rgb)
{
    int best = 0;
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int dr = qRed(palette[i]) - qRed(rgb);
        const int dg = qGreen(palette[i]) - qGreen(rgb);
        const int db = qBlue(palette[i]) - qBlue(rgb);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// Packs variable-width codes least significant bit first, then cuts the stream into the
// GIF's length-prefixed sub-blocks of at most 255 bytes.
class CodeWriter {
public:
    void Write(int code, int width)
    {
        bits_ |= static_cast<std::uint32_t>(code) << count_;
        count_ += width;
        while (count_ >= 8) {
            bytes_.push_back(static_cast<char>(bits_ & 0xFFu));
            bits_ >>= 8;
            count_ -= 8;
        }
    }
    QByteArray Finish()
    {
        if (count_ > 0) bytes_.push_back(static_cast<char>(bits_ & 0xFFu));
        QByteArray out;
        for (qsizetype at = 0; at < bytes_.size(); at += 255) {
            const qsizetype n = std::min<qsizetype>(255, bytes_.size() - at);
            out.append(static_cast<char>(n));
            out.append(bytes_.constData() + at, n);
        }
        out.append('\0');
        return out;
    }

private:
    QByteArray bytes_;
    std::uint32_t bits_ = 0;
    int count_ = 0;
};

QByteArray CompressLzw(const std::vector<std::uint8_t>& indices, int minCodeSize)
{
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    CodeWriter out;
    int codeSize = minCodeSize + 1;
    int lastCode = endCode;
    std::unordered_map<std::uint32_t, int> table;
    out.Write(clearCode, codeSize);
    int prefix = indices.front();
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const std::uint32_t key = (static_cast<std::uint32_t>(prefix) << 8) | indices[i];
        if (auto it = table.find(key); it != table.end()) {
            prefix = it->second;
            continue;
        }
        out.Write(prefix, codeSize);
        table.emplace(key, ++lastCode);
        // The decoder widens its codes once the table reaches the current width's limit.
        if (lastCode >= (1 << codeSize)) ++codeSize;
        if (lastCode == MaxLzwCode) {
            out.Write(clearCode, codeSize);
            table.clear();
            codeSize = minCodeSize + 1;
            lastCode = endCode;
        }
        prefix = indices[i];
    }
    out.Write(prefix, codeSize);
    out.Write(endCode, codeSize);
    return out.Finish();
}

void AppendWord(QByteArray& out, int value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

} // namespace

QByteArray EncodeGif(const QImage& source)
{
    if (source.isNull() || source.width() > 0xFFFF || source.height() > 0xFFFF) return {};
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();

    std::map<QRgb, std::int64_t> histogram;
    bool anyTransparent = false;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) < GifAlphaThreshold)
                anyTransparent = true;
            else
                ++histogram[row[x] | 0xFF000000u];
        }
    }
    const std::vector<QRgb> colours = BuildPalette(histogram);
    // Index 0 is the transparent colour when one is needed; the colours follow.
    const int offset = anyTransparent ? 1 : 0;
    const int used = static_cast<int>(colours.size()) + offset;
    int depth = 1;
    while ((1 << depth) < used) ++depth;

    std::map<QRgb, std::uint8_t> lookup;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::size_t at = 0;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x, ++at) {
            if (qAlpha(row[x]) < GifAlphaThreshold) {
                indices[at] = 0;
                continue;
            }
            const QRgb rgb = row[x] | 0xFF000000u;
            auto it = lookup.find(rgb);
            if (it == lookup.end())
                it = lookup.emplace(rgb, static_cast<std::uint8_t>(Nearest(colours, rgb) + offset))
                         .first;
            indices[at] = it->second;
        }
    }

    QByteArray out("GIF89a");
    AppendWord(out, w);
    AppendWord(out, h);
    // Global colour table present, 8-bit colour resolution, table of 2^depth entries.
    out.append(static_cast<char>(0x80 | 0x70 | (depth - 1)));
    out.append('\0'); // background colour index
    out.append('\0'); // no aspect ratio
    for (int i = 0; i < (1 << depth); ++i) {
        const int c = i - offset;
        const QRgb rgb = (c >= 0 && c < static_cast<int>(colours.size())) ? colours[c] : 0;
        out.append(static_cast<char>(qRed(rgb)));
        out.append(static_cast<char>(qGreen(rgb)));
        out.append(static_cast<char>(qBlue(rgb)));
    }
    if (anyTransparent) {
        // Graphic control extension: no disposal, no delay, transparent index 0.
        const char gce[] = {'\x21', '\xF9', '\x04', '\x01', '\0', '\0', '\0', '\0'};
        out.append(gce, sizeof gce);
    }
    out.append('\x2C');
    AppendWord(out, 0);
    AppendWord(out, 0);
    AppendWord(out, w);
    AppendWord(out, h);
    out.append('\0'); // no local table, not interlaced
    const int minCodeSize = std::max(2, depth);
    out.append(static_cast<char>(minCodeSize));
    out.append(CompressLzw(indices, minCodeSize));
    out.append('\x3B');
    return out;
}

} // namespace artwork
