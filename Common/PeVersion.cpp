#include "PeVersion.h"

#include <cstring>
#include <functional>

#include "PeResources.h"
#include "ZoSysUtils.h"

namespace {

void Put16(TBytes& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void Put32(TBytes& b, uint32_t v) { Put16(b, uint16_t(v)); Put16(b, uint16_t(v >> 16)); }
void Set16(TBytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); }
void PutText(TBytes& b, const WideString& s)
{
    for (char16_t c : s) Put16(b, c);
    Put16(b, 0);
}
void Align4(TBytes& b)
{
    while (b.size() % 4) b.push_back(0);
}

// One node: length, value length, type, key, padding, value, padding, children.
// Lengths count from the node's start to the end of its last child; offsets
// are aligned relative to the resource's start (every node begins aligned).
struct TNode {
    WideString key;
    uint16_t type = 1;  // 1 text, 0 binary
    TBytes value;
    uint16_t valueLength = 0;  // in characters for text, bytes for binary
    std::vector<TNode> children;

    void WriteTo(TBytes& b) const
    {
        Align4(b);
        size_t start = b.size();
        Put16(b, 0);
        Put16(b, valueLength);
        Put16(b, type);
        PutText(b, key);
        Align4(b);
        b.insert(b.end(), value.begin(), value.end());
        for (const TNode& c : children) c.WriteTo(b);
        // Every length is 16 bits: a longer block would wrap into a damaged one.
        if (b.size() - start > 0xFFFF) throw EPeFormatError(u"the version resource would exceed 65,535 bytes");
        Set16(b, start, static_cast<uint16_t>(b.size() - start));
    }
};

WideString Hex4(uint16_t v)
{
    static const char16_t digits[] = u"0123456789abcdef";
    WideString s;
    for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 15];
    return s;
}

}  // namespace

const WideString* TVersionInfo::Find(const WideString& name) const
{
    for (const auto& [n, v] : Strings)
        if (n == name) return &v;
    return nullptr;
}

TBytes BuildVersionResource(const TVersionInfo& info)
{
    TNode root{u"VS_VERSION_INFO", 0, {}, 52, {}};
    TBytes& f = root.value;
    Put32(f, 0xFEEF04BD);  // signature
    Put32(f, 0x00010000);  // structure version
    Put32(f, (uint32_t(info.FileVersion[0]) << 16) | info.FileVersion[1]);
    Put32(f, (uint32_t(info.FileVersion[2]) << 16) | info.FileVersion[3]);
    Put32(f, (uint32_t(info.ProductVersion[0]) << 16) | info.ProductVersion[1]);
    Put32(f, (uint32_t(info.ProductVersion[2]) << 16) | info.ProductVersion[3]);
    Put32(f, 0x3F);        // flags mask
    Put32(f, 0);           // flags
    Put32(f, 0x00040004);  // Windows NT, 32-bit API
    Put32(f, 1);           // an application
    Put32(f, 0);           // subtype
    Put32(f, 0);           // date
    Put32(f, 0);

    TNode table{Hex4(info.Language) + Hex4(info.CodePage), 1, {}, 0, {}};
    for (const auto& [name, text] : info.Strings) {
        TNode s{name, 1, {}, static_cast<uint16_t>(text.size() + 1), {}};
        PutText(s.value, text);
        table.children.push_back(std::move(s));
    }
    TNode strings{u"StringFileInfo", 1, {}, 0, {std::move(table)}};
    TNode translation{u"Translation", 0, {}, 4, {}};
    Put16(translation.value, info.Language);
    Put16(translation.value, info.CodePage);
    TNode vars{u"VarFileInfo", 1, {}, 0, {std::move(translation)}};
    root.children.push_back(std::move(strings));
    root.children.push_back(std::move(vars));
    TBytes out;
    root.WriteTo(out);
    return out;
}

TVersionInfo ParseVersionResource(const TBytes& data)
{
    auto bad = [] { throw EPeFormatError(u"damaged version resource"); };
    auto get16 = [&](size_t at) -> uint16_t {
        if (at + 2 > data.size()) bad();
        return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
    };
    auto align = [](size_t at) { return (at + 3) & ~size_t(3); };
    struct Header { size_t start, end, valueAt, childrenAt; uint16_t valueLength, type; WideString key; };
    auto header = [&](size_t at, size_t limit) {
        Header h{at, 0, 0, 0, 0, 0, {}};
        uint16_t length = get16(at);
        if (length < 6 || at + length > limit) bad();
        h.end = at + length;
        h.valueLength = get16(at + 2);
        h.type = get16(at + 4);
        size_t p = at + 6;
        for (;;) {
            if (p + 2 > h.end) bad();
            char16_t c = static_cast<char16_t>(get16(p));
            p += 2;
            if (!c) break;
            h.key += c;
        }
        h.valueAt = align(p);
        size_t valueBytes = h.type == 1 ? size_t(h.valueLength) * 2 : h.valueLength;
        if (h.valueAt + valueBytes > h.end) {
            // Some writers count text values in bytes; accept what fits.
            valueBytes = h.valueAt <= h.end ? h.end - h.valueAt : 0;
            if (h.valueAt > h.end) h.valueAt = h.end;
        }
        h.childrenAt = align(h.valueAt + valueBytes);
        return h;
    };
    auto children = [&](const Header& h, const std::function<void(const Header&)>& visit) {
        for (size_t p = h.childrenAt; p + 6 <= h.end;) {
            Header c = header(p, h.end);
            visit(c);
            p = align(c.end);
        }
    };

    TVersionInfo info;
    Header root = header(0, data.size());
    if (root.key != u"VS_VERSION_INFO" || root.valueLength < 52 || root.valueAt + 52 > root.end) bad();
    auto get32 = [&](size_t at) { return get16(at) | (uint32_t(get16(at + 2)) << 16); };
    if (get32(root.valueAt) != 0xFEEF04BD) bad();
    uint32_t fms = get32(root.valueAt + 8), fls = get32(root.valueAt + 12);
    uint32_t pms = get32(root.valueAt + 16), pls = get32(root.valueAt + 20);
    info.FileVersion = {uint16_t(fms >> 16), uint16_t(fms), uint16_t(fls >> 16), uint16_t(fls)};
    info.ProductVersion = {uint16_t(pms >> 16), uint16_t(pms), uint16_t(pls >> 16), uint16_t(pls)};
    bool haveTable = false, haveTranslation = false;
    children(root, [&](const Header& block) {
        if (block.key == u"StringFileInfo" && !haveTable) {
            children(block, [&](const Header& table) {
                if (haveTable) return;
                haveTable = true;
                children(table, [&](const Header& s) {
                    WideString text;
                    for (size_t p = s.valueAt; p + 2 <= s.end; p += 2) {
                        char16_t c = static_cast<char16_t>(get16(p));
                        if (!c) break;
                        text += c;
                    }
                    info.Strings.emplace_back(s.key, text);
                });
            });
        } else if (block.key == u"VarFileInfo" && !haveTranslation) {
            children(block, [&](const Header& var) {
                if (var.key == u"Translation" && !haveTranslation && var.valueAt + 4 <= var.end) {
                    info.Language = get16(var.valueAt);
                    info.CodePage = get16(var.valueAt + 2);
                    haveTranslation = true;
                }
            });
        }
    });
    return info;
}
