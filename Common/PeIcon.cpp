#include "PeIcon.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "ZoSysUtils.h"

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// An icon larger than this is a mistake, and its pixels would cost time to check.
constexpr uint32_t kMaxSide = 4096;

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | (uint32_t(Le16(p + 2)) << 16); }
void PutLe16(TBytes& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void PutLe32(TBytes& b, uint32_t v) { PutLe16(b, uint16_t(v)); PutLe16(b, uint16_t(v >> 16)); }

[[noreturn]] void Bad(const char* why) { throw EImageError(u"not a valid PNG image: " + FromUtf8(why)); }

// Bytes of filtered image data: per row a filter byte and the packed pixels,
// over the seven passes when interlaced.
uint64_t ExpectedDataSize(const TPngInfo& p, unsigned channels)
{
    const uint64_t bitsPerPixel = uint64_t(channels) * p.BitDepth;
    auto rows = [&](uint64_t w, uint64_t h) { return w && h ? h * (1 + (w * bitsPerPixel + 7) / 8) : 0; };
    if (!p.Interlaced) return rows(p.Width, p.Height);
    static const int start[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const int step[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    uint64_t total = 0;
    for (int i = 0; i < 7; ++i) {
        uint64_t w = p.Width > uint32_t(start[i][0]) ? (p.Width - start[i][0] + step[i][0] - 1) / step[i][0] : 0;
        uint64_t h = p.Height > uint32_t(start[i][1]) ? (p.Height - start[i][1] + step[i][1] - 1) / step[i][1] : 0;
        total += rows(w, h);
    }
    return total;
}

}  // namespace

TPngInfo CheckPng(const uint8_t* data, size_t size)
{
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0) Bad("no PNG signature");
    TPngInfo info;
    unsigned channels = 0;
    bool seenHeader = false, seenPalette = false, seenData = false, dataEnded = false, seenEnd = false;
    z_stream z{};
    bool inflating = false;
    struct End { z_stream* z; bool* on; ~End() { if (*on) inflateEnd(z); } } end{&z, &inflating};
    uint64_t inflated = 0, expected = 0;
    bool streamEnded = false;
    uint8_t sink[16384];

    size_t at = 8;
    while (!seenEnd) {
        if (size - at < 12) Bad("cut off before its end chunk");
        uint32_t length = Be32(data + at);
        if (length > 0x7FFFFFFF || length > size - at - 12) Bad("a chunk runs past the end of the file");
        const uint8_t* type = data + at + 4;
        const uint8_t* body = data + at + 8;
        for (int i = 0; i < 4; ++i)
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z'))) Bad("damaged chunk type");
        uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, type, 4), body, length));
        if (crc != Be32(body + length)) Bad("a chunk checksum does not match (damaged file)");
        const bool critical = !(type[0] & 0x20);
        if (!seenHeader && std::memcmp(type, "IHDR", 4) != 0) Bad("the first chunk is not the image header");

        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (seenHeader || length != 13) Bad("damaged image header");
            seenHeader = true;
            info.Width = Be32(body);
            info.Height = Be32(body + 4);
            info.BitDepth = body[8];
            info.ColorType = body[9];
            if (body[10] != 0 || body[11] != 0 || body[12] > 1) Bad("unknown compression, filter or interlace method");
            info.Interlaced = body[12] == 1;
            if (info.Width == 0 || info.Height == 0) Bad("zero width or height");
            if (info.Width > kMaxSide || info.Height > kMaxSide)
                throw EImageError(u"the icon image is larger than 4096 x 4096 pixels");
            const uint8_t d = info.BitDepth;
            switch (info.ColorType) {
            case 0: channels = 1; if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) Bad("bad bit depth"); break;
            case 2: channels = 3; if (d != 8 && d != 16) Bad("bad bit depth"); break;
            case 3: channels = 1; if (d != 1 && d != 2 && d != 4 && d != 8) Bad("bad bit depth"); break;
            case 4: channels = 2; if (d != 8 && d != 16) Bad("bad bit depth"); break;
            case 6: channels = 4; if (d != 8 && d != 16) Bad("bad bit depth"); break;
            default: Bad("unknown colour type");
            }
            expected = ExpectedDataSize(info, channels);
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            if (seenData || seenPalette || length == 0 || length % 3 || length > 768) Bad("damaged palette");
            seenPalette = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (dataEnded) Bad("image data chunks are not together");
            if (info.ColorType == 3 && !seenPalette) Bad("a palette image without palette");
            if (!inflating) {
                if (inflateInit(&z) != Z_OK) Bad("out of memory");
                inflating = true;
            }
            seenData = true;
            z.next_in = const_cast<uint8_t*>(body);
            z.avail_in = length;
            while (z.avail_in > 0) {
                if (streamEnded) Bad("data after the end of the compressed image");
                z.next_out = sink;
                z.avail_out = sizeof sink;
                int r = inflate(&z, Z_NO_FLUSH);
                if (r != Z_OK && r != Z_STREAM_END && !(r == Z_BUF_ERROR && z.avail_out == 0)) Bad("damaged image data");
                inflated += sizeof sink - z.avail_out;
                if (inflated > expected) Bad("more image data than the header calls for");
                if (r == Z_STREAM_END) streamEnded = true;
            }
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            seenEnd = true;
        } else if (critical) {
            Bad("an unknown critical chunk");
        }
        if (seenData && std::memcmp(type, "IDAT", 4) != 0) dataEnded = true;
        at += 12 + size_t(length);
    }
    if (!seenData) Bad("no image data");
    if (!streamEnded || inflated != expected) Bad("the image data is cut off");
    return info;
}

TRgbaImage DecodePng(const TBytes& png)
{
    const TPngInfo info = CheckPng(png);
    TBytes compressed, palette, transparency;
    // The chunks CheckPng walked, up to the end chunk; bytes after it are no image.
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t length = Be32(&png[at]);
        const uint8_t* type = &png[at + 4];
        const uint8_t* body = &png[at + 8];
        if (std::memcmp(type, "IEND", 4) == 0 || length > png.size() - at - 12) break;
        if (std::memcmp(type, "IDAT", 4) == 0) compressed.insert(compressed.end(), body, body + length);
        else if (std::memcmp(type, "PLTE", 4) == 0) palette.assign(body, body + length);
        else if (std::memcmp(type, "tRNS", 4) == 0) transparency.assign(body, body + length);
        at += 12 + size_t(length);
    }
    const unsigned channels = info.ColorType == 2 ? 3 : info.ColorType == 4 ? 2 : info.ColorType == 6 ? 4 : 1;
    const unsigned bitsPerPixel = channels * info.BitDepth;
    const unsigned bytesPerPixel = std::max(1u, bitsPerPixel / 8);  // the filters' distance
    TBytes raw(static_cast<size_t>(ExpectedDataSize(info, channels)));
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, compressed.data(), static_cast<uLong>(compressed.size())) != Z_OK ||
        rawSize != raw.size())
        Bad("damaged image data");

    TRgbaImage image{info.Width, info.Height, TBytes(size_t(info.Width) * info.Height * 4)};
    // One sample of a pixel, scaled to 8 bits (16-bit samples keep their high byte).
    auto sample = [&](const uint8_t* row, uint32_t x, unsigned c) -> unsigned {
        if (info.BitDepth == 8) return row[x * channels + c];
        if (info.BitDepth == 16) return row[(x * channels + c) * 2];
        unsigned d = info.BitDepth, bit = x * d;
        return (row[bit / 8] >> (8 - d - bit % 8)) & ((1u << d) - 1);
    };
    auto raw16 = [&](const uint8_t* row, uint32_t x, unsigned c) -> unsigned {  // tRNS compares whole samples
        if (info.BitDepth == 16) return (unsigned(row[(x * channels + c) * 2]) << 8) | row[(x * channels + c) * 2 + 1];
        return sample(row, x, c);
    };
    auto put = [&](const uint8_t* row, uint32_t x, uint32_t outX, uint32_t outY) {
        uint8_t* out = &image.Pixels[(size_t(outY) * info.Width + outX) * 4];
        const unsigned d = info.BitDepth;
        auto grey = [&](unsigned v) { return d >= 8 ? v : v * 255 / ((1u << d) - 1); };
        switch (info.ColorType) {
        case 0: {
            unsigned v = grey(sample(row, x, 0));
            out[0] = out[1] = out[2] = uint8_t(v);
            out[3] = transparency.size() >= 2 && raw16(row, x, 0) == Be16(transparency.data()) ? 0 : 255;
            break;
        }
        case 2:
            for (unsigned c = 0; c < 3; ++c) out[c] = uint8_t(sample(row, x, c));
            out[3] = transparency.size() >= 6 && raw16(row, x, 0) == Be16(&transparency[0]) &&
                             raw16(row, x, 1) == Be16(&transparency[2]) && raw16(row, x, 2) == Be16(&transparency[4])
                         ? 0
                         : 255;
            break;
        case 3: {
            unsigned i = sample(row, x, 0);
            if (3 * i + 2 >= palette.size()) Bad("a colour index past the palette");
            for (unsigned c = 0; c < 3; ++c) out[c] = palette[3 * i + c];
            out[3] = i < transparency.size() ? transparency[i] : 255;
            break;
        }
        case 4:
            out[0] = out[1] = out[2] = uint8_t(sample(row, x, 0));
            out[3] = uint8_t(sample(row, x, 1));
            break;
        default:
            for (unsigned c = 0; c < 4; ++c) out[c] = uint8_t(sample(row, x, c));
        }
    };

    static const uint32_t kStart[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
    static const uint32_t kStep[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
    size_t at = 0;
    for (int pass = 0; pass < (info.Interlaced ? 7 : 1); ++pass) {
        const uint32_t x0 = info.Interlaced ? kStart[pass][0] : 0, y0 = info.Interlaced ? kStart[pass][1] : 0;
        const uint32_t dx = info.Interlaced ? kStep[pass][0] : 1, dy = info.Interlaced ? kStep[pass][1] : 1;
        const uint32_t w = info.Width > x0 ? (info.Width - x0 + dx - 1) / dx : 0;
        const uint32_t h = info.Height > y0 ? (info.Height - y0 + dy - 1) / dy : 0;
        if (w == 0 || h == 0) continue;
        const size_t stride = (size_t(w) * bitsPerPixel + 7) / 8;
        const uint8_t* previous = nullptr;
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t filter = raw[at];
            uint8_t* row = &raw[at + 1];
            for (size_t i = 0; i < stride; ++i) {
                unsigned a = i >= bytesPerPixel ? row[i - bytesPerPixel] : 0;
                unsigned b = previous ? previous[i] : 0;
                unsigned c = previous && i >= bytesPerPixel ? previous[i - bytesPerPixel] : 0;
                unsigned add = 0;
                switch (filter) {
                case 0: break;
                case 1: add = a; break;
                case 2: add = b; break;
                case 3: add = (a + b) / 2; break;
                case 4: {
                    int p = int(a) + int(b) - int(c), pa = std::abs(p - int(a)), pb = std::abs(p - int(b)),
                        pc = std::abs(p - int(c));
                    add = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                    break;
                }
                default: Bad("unknown row filter");
                }
                row[i] = uint8_t(row[i] + add);
            }
            for (uint32_t x = 0; x < w; ++x) put(row, x, x0 + x * dx, y0 + y * dy);
            previous = row;
            at += 1 + stride;
        }
    }
    return image;
}

TRgbaImage ScaleImage(const TRgbaImage& image, uint32_t width, uint32_t height)
{
    TRgbaImage out{width, height, TBytes(size_t(width) * height * 4)};
    if (!image.Width || !image.Height || !width || !height) return out;
    const double sx = double(image.Width) / width, sy = double(image.Height) / height;
    auto at = [&](uint32_t x, uint32_t y) { return &image.Pixels[(size_t(y) * image.Width + x) * 4]; };
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            double sum[4] = {0, 0, 0, 0};  // colours premultiplied by their opacity
            auto add = [&](uint32_t px, uint32_t py, double weight) {
                const uint8_t* p = at(px, py);
                double a = p[3] * weight;
                for (int c = 0; c < 3; ++c) sum[c] += p[c] * a;
                sum[3] += a;
            };
            if (sx > 1 || sy > 1) {  // smaller: the area the pixel covers, edges by their share
                double left = x * sx, right = (x + 1) * sx, top = y * sy, bottom = (y + 1) * sy;
                for (auto py = uint32_t(top); py < image.Height && py < bottom; ++py) {
                    double hy = std::min<double>(py + 1, bottom) - std::max<double>(py, top);
                    for (auto px = uint32_t(left); px < image.Width && px < right; ++px)
                        add(px, py, hy * (std::min<double>(px + 1, right) - std::max<double>(px, left)) / (sx * sy));
                }
            } else {  // larger: between the four nearest pixel centres
                double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, double(image.Width - 1));
                double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, double(image.Height - 1));
                auto x1 = uint32_t(fx), y1 = uint32_t(fy);
                uint32_t x2 = std::min(x1 + 1, image.Width - 1), y2 = std::min(y1 + 1, image.Height - 1);
                double tx = fx - x1, ty = fy - y1;
                add(x1, y1, (1 - tx) * (1 - ty));
                add(x2, y1, tx * (1 - ty));
                add(x1, y2, (1 - tx) * ty);
                add(x2, y2, tx * ty);
            }
            uint8_t* o = &out.Pixels[(size_t(y) * width + x) * 4];
            for (int c = 0; c < 3; ++c)
                o[c] = sum[3] > 0 ? uint8_t(std::clamp(sum[c] / sum[3] + 0.5, 0.0, 255.0)) : 0;
            o[3] = uint8_t(std::clamp(sum[3] + 0.5, 0.0, 255.0));
        }
    return out;
}

TBytes EncodePng(uint32_t width, uint32_t height, const uint8_t* rgba)
{
    TBytes raw;
    raw.reserve(size_t(height) * (1 + 4 * size_t(width)));
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        raw.insert(raw.end(), rgba + size_t(y) * width * 4, rgba + size_t(y + 1) * width * 4);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    TBytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw ECompressionError(u"Error");
    packed.resize(packedSize);

    TBytes png(kSignature, kSignature + 8);
    auto chunk = [&](const char* type, const TBytes& body) {
        for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(body.size() >> s));
        size_t typeAt = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), body.begin(), body.end());
        uint32_t crc = static_cast<uint32_t>(crc32(0, &png[typeAt], static_cast<uInt>(4 + body.size())));
        for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(crc >> s));
    };
    TBytes header;
    for (uint32_t v : {width, height})
        for (int s = 24; s >= 0; s -= 8) header.push_back(uint8_t(v >> s));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no interlace
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return png;
}

namespace {

struct TGroupEntry {
    uint8_t width, height, colors;
    uint16_t planes, bitCount;
    uint32_t bytes;
    uint16_t id;
};

std::vector<TGroupEntry> ParseGroup(const TBytes& g)
{
    std::vector<TGroupEntry> entries;
    if (g.size() < 6 || Le16(&g[2]) != 1) return entries;
    size_t count = std::min<size_t>(Le16(&g[4]), (g.size() - 6) / 14);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &g[6 + 14 * i];
        entries.push_back({e[0], e[1], e[2], Le16(e + 4), Le16(e + 6), Le32(e + 8), Le16(e + 12)});
    }
    return entries;
}

// Removes group groupName's images that no other group uses; gives the icon
// image ids still taken.
std::set<uint16_t> ClearGroup(TPeImage& pe, const TResName& groupName)
{
    std::set<uint16_t> kept, used;
    for (const TPeResource* r : pe.ResourcesOfType(pe::kIcon))
        if (r->Name.IsId()) used.insert(r->Name.Id());
    for (const TPeResource* g : pe.ResourcesOfType(pe::kGroupIcon))
        if (!(g->Name == groupName))
            for (const auto& e : ParseGroup(pe.ReadResource(*g))) kept.insert(e.id);
    if (const TPeResource* old = pe.Find(pe::kGroupIcon, groupName))
        for (const auto& e : ParseGroup(pe.ReadResource(*old)))
            if (!kept.count(e.id)) {
                pe.RemoveResource(pe::kIcon, e.id);
                used.erase(e.id);
            }
    return used;
}

// Adds one 32-bit image to a group directory and the image itself under the
// first free id.
void AddGroupImage(TPeImage& pe, TBytes& group, std::set<uint16_t>& used, uint32_t width, uint32_t height, TBytes image)
{
    uint16_t id = 1;
    while (used.count(id)) ++id;
    used.insert(id);
    group.push_back(width >= 256 ? 0 : uint8_t(width));
    group.push_back(height >= 256 ? 0 : uint8_t(height));
    group.push_back(0);  // colours: not a palette icon
    group.push_back(0);
    PutLe16(group, 1);   // planes
    PutLe16(group, 32);  // bits per pixel
    PutLe32(group, static_cast<uint32_t>(image.size()));
    PutLe16(group, id);
    pe.SetResource(pe::kIcon, id, std::move(image));
}

TBytes GroupHeader(size_t images)
{
    TBytes group;
    PutLe16(group, 0);  // reserved
    PutLe16(group, 1);  // icon
    PutLe16(group, static_cast<uint16_t>(images));
    return group;
}

}  // namespace

void SetExplorerIcon(TPeImage& pe, const TBytes& png)
{
    const TPngInfo info = CheckPng(png);
    auto groups = pe.ResourcesOfType(pe::kGroupIcon);
    TResName groupName = groups.empty() ? TResName(1) : groups.front()->Name;

    // Icon images still used by the other groups stay.
    std::set<uint16_t> used = ClearGroup(pe, groupName);
    TBytes group = GroupHeader(1);
    AddGroupImage(pe, group, used, info.Width, info.Height, png);
    pe.SetResource(pe::kGroupIcon, groupName, std::move(group));
}

std::vector<uint32_t> WindowIconSides(uint32_t width, uint32_t height, uint32_t pictureSide)
{
    // Small and large window icons at 100 % to 200 %, then the picture: its own
    // size up to its place's, times the scales a display commonly has.
    std::set<uint32_t> sides = {16, 20, 24, 32, 40, 48, 64};
    const uint32_t picture = std::min(std::max(width, height), pictureSide);
    for (uint32_t percent : {100u, 125u, 150u, 175u, 200u}) sides.insert((picture * percent + 50) / 100);
    return {sides.begin(), sides.end()};
}

void SetWindowIcon(TPeImage& pe, const TBytes& png, uint32_t pictureSide)
{
    const TRgbaImage image = DecodePng(png);
    std::set<uint16_t> used = ClearGroup(pe, kWindowIconGroup);
    const std::vector<uint32_t> sides = WindowIconSides(image.Width, image.Height, pictureSide);
    TBytes group = GroupHeader(sides.size());
    const uint32_t longer = std::max(image.Width, image.Height);
    for (uint32_t side : sides) {
        // The longer edge gets the side; the shorter keeps the proportion.
        uint32_t w = std::max<uint32_t>(1, (image.Width * side + longer / 2) / longer);
        uint32_t h = std::max<uint32_t>(1, (image.Height * side + longer / 2) / longer);
        const TRgbaImage scaled = w == image.Width && h == image.Height ? image : ScaleImage(image, w, h);
        AddGroupImage(pe, group, used, w, h, EncodePng(w, h, scaled.Pixels.data()));
    }
    pe.SetResource(pe::kGroupIcon, kWindowIconGroup, std::move(group));
}

std::vector<TIconEntry> ExplorerIcon(const TPeImage& pe)
{
    std::vector<TIconEntry> icon;
    auto groups = pe.ResourcesOfType(pe::kGroupIcon);
    if (groups.empty()) return icon;
    for (const auto& e : ParseGroup(pe.ReadResource(*groups.front()))) {
        TIconEntry entry{e.width ? e.width : 256u, e.height ? e.height : 256u, e.bitCount, e.id, {}};
        if (const TPeResource* image = pe.Find(pe::kIcon, e.id)) entry.Image = pe.ReadResource(*image);
        icon.push_back(std::move(entry));
    }
    return icon;
}
