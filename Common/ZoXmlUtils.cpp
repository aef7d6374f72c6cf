// The XML tree: escaping, the parser that works on the caller's buffer, and
// the writer.
#include "ZoXmlUtils.h"

#include <algorithm>
#include <cstring>

#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"

namespace {

constexpr const char* kUnit = "Common/ZoXmlUtils";
const char16_t* const kTagMismatch = u"XML 标签不匹配";

[[noreturn]] void RaiseTagMismatch()
{
    throw EXmlException(kTagMismatch);
}

inline char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

}  // namespace

namespace {

// Converts UTF-8 to UTF-16 into w, which has room for n code units; returns the
// end. Malformed sequences become U+FFFD; a NUL byte ends the text, as the
// runtime's string conversion does. With StopAtAmp, an '&' or a NUL gives null
// (the caller then takes the full decoding).
template <bool StopAtAmp>
char16_t* ConvertUtf8(char16_t* w, const char* data, size_t n)
{
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time when none is a NUL (or '&').
        while (i + 8 <= n) {
            uint64_t v;
            std::memcpy(&v, s + i, 8);
            uint64_t zero = (v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull;
            uint64_t amp = 0;
            if constexpr (StopAtAmp) {
                uint64_t x = v ^ 0x2626262626262626ull;
                amp = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
            }
            if ((v & 0x8080808080808080ull) | zero | amp) break;
            for (int k = 0; k < 8; ++k) w[k] = s[i + k];
            w += 8;
            i += 8;
        }
        if (i >= n) break;
        uint32_t c = s[i];
        if (c < 0x80) {
            if (StopAtAmp && (c == '&' || c == 0)) return nullptr;
            if (c == 0) break;
            *w++ = static_cast<char16_t>(c);
            ++i;
            continue;
        }
        size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        uint32_t cp = 0xFFFD;
        if (len > 1 && i + len <= n) {
            cp = c & (0xFFu >> (len + 1));
            bool ok = true;
            for (size_t k = 1; k < len; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (s[i + k] & 0x3F);
            }
            static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                cp = 0xFFFD;
                len = 1;
            }
        } else {
            len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *w++ = static_cast<char16_t>(cp);
        }
    }
    return w;
}

}  // namespace

void AppendUtf8(WideString& out, const char* data, size_t n)
{
    size_t base = out.size();
    out.resize(base + n);  // never more code units than bytes
    char16_t* end = ConvertUtf8<false>(out.data() + base, data, n);
    out.resize(static_cast<size_t>(end - out.data()));
}

bool AppendUtf8Plain(WideString& out, const char* data, size_t n)
{
    size_t base = out.size();
    out.resize(base + n);
    char16_t* end = ConvertUtf8<true>(out.data() + base, data, n);
    if (!end) return false;
    out.resize(static_cast<size_t>(end - out.data()));
    return true;
}

namespace {

bool IsTrimmed(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// Trims bytes of code 32 or below from both ends.
std::string_view TrimView(const char* from, const char* to)
{
    while (from < to && IsTrimmed(*from)) ++from;
    while (to > from && IsTrimmed(to[-1])) --to;
    return {from, static_cast<size_t>(to - from)};
}

const char* FindByte(const char* from, const char* to, char c)
{
    if (from >= to) return nullptr;
    return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(to - from)));
}

// FindByte for a byte that is usually near: a plain loop over the first
// bytes saves the call on short names and the blanks between elements.
inline const char* FindNearByte(const char* from, const char* to, char c)
{
    const char* stop = to - from > 24 ? from + 24 : to;
    for (const char* p = from; p < stop; ++p)
        if (*p == c) return p;
    return FindByte(stop, to, c);
}

const char* FindText(const char* from, const char* to, std::string_view what)
{
    std::string_view hay(from, static_cast<size_t>(to - from));
    size_t at = hay.find(what);
    return at == std::string_view::npos ? nullptr : from + at;
}

}  // namespace

// ---- Escaping ---------------------------------------------------------------------

AnsiString XmlEncode(const WideString& text)
{
    if (text.empty()) return {};
    AnsiString utf8 = ToUtf8(text);
    size_t extra = 0;
    for (char c : utf8) {
        switch (c) {
        case '\t': case '\n': case '\r': case '"': case '\'': extra += 5; break;
        case '&': extra += 4; break;
        case '<': case '>': extra += 3; break;
        default: break;
        }
    }
    if (extra == 0) return utf8;
    AnsiString out(utf8.size() + extra, '\0');
    char* p = out.data();
    auto put = [&p](const char* s, size_t n) {
        std::memcpy(p, s, n);
        p += n;
    };
    for (char c : utf8) {
        switch (c) {
        case '\t': put("&#x09;", 6); break;
        case '\n': put("&#x0A;", 6); break;
        case '\r': put("&#x0D;", 6); break;
        case '"': put("&quot;", 6); break;
        case '\'': put("&apos;", 6); break;
        case '&': put("&amp;", 5); break;
        case '<': put("&lt;", 4); break;
        case '>': put("&gt;", 4); break;
        default: *p++ = c; break;
        }
    }
    return out;
}

WideString XmlDecode(std::string_view text)
{
    WideString out;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* amp = FindByte(p, end, '&');
        if (!amp) {
            AppendUtf8(out, p, static_cast<size_t>(end - p));
            break;
        }
        AppendUtf8(out, p, static_cast<size_t>(amp - p));
        const char* semi = FindByte(amp + 1, end, ';');
        if (!semi) RaiseTagMismatch();
        std::string_view entity(amp + 1, static_cast<size_t>(semi - amp - 1));
        ZO_ASSERT(!entity.empty(), kUnit);
        if (entity[0] == '#') {
            std::string_view digits = entity.substr(1);
            // Hexadecimal goes through the integer conversion's "$" form.
            WideString wide;
            if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
                wide.push_back(u'$');
                digits.remove_prefix(1);
            }
            AppendUtf8(wide, digits.data(), digits.size());
            auto value = TryStrToInt(wide);
            if (!value) throw EConvertError(u"'" + wide + u"' is not a valid integer value");
            out.push_back(static_cast<char16_t>(static_cast<uint32_t>(*value) & 0xFFFF));
        } else if (EqualsNoCase(entity, "lt")) {
            out.push_back(u'<');
        } else if (EqualsNoCase(entity, "gt")) {
            out.push_back(u'>');
        } else if (EqualsNoCase(entity, "amp")) {
            out.push_back(u'&');
        } else if (EqualsNoCase(entity, "quot")) {
            out.push_back(u'"');
        } else if (EqualsNoCase(entity, "apos")) {
            out.push_back(u'\'');
        } else {
            ZO_ASSERT(false, kUnit);
        }
        p = semi + 1;
    }
    return out;
}

void RaiseListIndexError(int index)
{
    throw EListError(u"List index out of bounds (" + IntToStr(index) + u")");
}

// ---- Attributes -------------------------------------------------------------------

WideString TXmlAttribute::GetValue() const
{
    if (IsCData) {
        WideString out;
        out.reserve(Value.size());
        AppendUtf8(out, Value.data(), Value.size());
        return out;
    }
    return XmlDecode(Value);
}

void TXmlAttribute::SetValue(const WideString& value)
{
    Value = IsCData ? ToUtf8(value) : XmlEncode(value);
}

void TXmlAttribute::SetInteger(int64_t value)
{
    Value = std::to_string(value);
    IsCData = false;
}

void TXmlAttribute::SetFloat(double value)
{
    Value = AsciiOf(FloatToStrG15(value));
    IsCData = false;
}

TXmlAttribute* TXmlAttributeList::Add(const WideString& name)
{
    TXmlAttribute& a = items_.emplace_back();
    a.SetName(name);
    return &a;
}

TXmlAttribute* TXmlAttributeList::FindOrAdd(const WideString& name)
{
    return FindOrAddEncoded(XmlEncode(name));
}

TXmlAttribute* TXmlAttributeList::FindOrAddEncoded(std::string_view encodedName)
{
    int i = IndexOfEncodedName(encodedName);
    if (i >= 0) return &items_[static_cast<size_t>(i)];
    TXmlAttribute& a = items_.emplace_back();
    a.Name.assign(encodedName);
    return &a;
}

void TXmlAttributeList::ParseText(const char* from, const char* to)
{
    items_.clear();
    // The pairs are found first, so the list is sized once.
    struct TSpan {
        std::string_view name, value;
    };
    thread_local std::vector<TSpan> spans;
    spans.clear();
    const char* p = from;
    while (const char* eq = FindNearByte(p, to, '=')) {
        std::string_view name = TrimView(p, eq);
        ZO_ASSERT(!name.empty(), kUnit);
        // A double quote anywhere after the '=' decides the delimiter.
        char quote = '"';
        const char* open = eq + 1 < to && eq[1] == '"' ? eq + 1 : FindByte(eq + 1, to, '"');
        if (!open) {
            quote = '\'';
            open = FindByte(eq + 1, to, '\'');
        }
        ZO_ASSERT(open != nullptr, kUnit);
        const char* close = FindByte(open + 1, to, quote);
        ZO_ASSERT(close != nullptr, kUnit);
        spans.push_back({name, std::string_view(open + 1, static_cast<size_t>(close - open - 1))});
        p = close + 1;
    }
    items_.reserve(spans.size());
    for (const TSpan& span : spans) {
        TXmlAttribute& a = items_.emplace_back();
        a.Name.assign(span.name);
        a.Value.assign(span.value);
    }
}

void TXmlAttributeList::Delete(int index)
{
    Items(index);  // range check
    items_.erase(items_.begin() + index);
}

void TXmlAttributeList::AppendText(AnsiString& out) const
{
    bool first = true;
    for (const TXmlAttribute& a : items_) {
        if (!first) out += ' ';
        first = false;
        out += a.Name;
        out += "=\"";
        out += a.Value;
        out += '"';
    }
}

AnsiString TXmlAttributeList::ToText() const
{
    AnsiString out;
    AppendText(out);
    return out;
}

// ---- Elements ---------------------------------------------------------------------

void TXmlNodeList::Clear()
{
    allocator_type a = items_.get_allocator();
    for (TXmlNode* node : items_) a.delete_object(node);
    items_.clear();
}

void TXmlNodeList::Delete(int index)
{
    TXmlNode* node = Items(index);
    items_.erase(items_.begin() + index);
    allocator_type(items_.get_allocator()).delete_object(node);
}

void TXmlNodeList::MakeRoom()
{
    // Room first, so a node is never left without an owner.
    if (items_.size() == items_.capacity()) items_.reserve(std::max<size_t>(4, items_.capacity() * 2));
}

TXmlNode* TXmlNodeList::Adopt(TXmlNodePtr node)
{
    MakeRoom();
    items_.push_back(node.release());
    return items_.back();
}

TXmlNode* TXmlNodeList::Append(TXmlNode* parent)
{
    MakeRoom();
    items_.push_back(allocator_type(items_.get_allocator()).new_object<TXmlNode>(parent));
    return items_.back();
}

void TXmlNodeDeleter::operator()(TXmlNode* node) const
{
    if (node) TXmlKey::allocator_type(node->Name.get_allocator()).delete_object(node);
}

TXmlNode* TXmlNode::AddChild(const WideString& name)
{
    return AddChildEncoded(XmlEncode(name));
}

TXmlNode* TXmlNode::AddChildEncoded(std::string_view encodedName)
{
    TXmlNode* node = Nodes.Append(this);
    node->Name.assign(encodedName);
    return node;
}

TXmlNode* TXmlNode::FindChild(const WideString& name) const
{
    return FindChildEncoded(XmlEncode(name));
}

TXmlNode* TXmlNode::FindChildEncoded(std::string_view encodedName) const
{
    int i = Nodes.IndexOfEncodedName(encodedName);
    return i < 0 ? nullptr : Nodes.Items(i);
}

TXmlNode* TXmlNode::ChildByName(const WideString& name)
{
    if (TXmlNode* found = FindChild(name)) return found;
    return AddChild(name);
}

AnsiString TXmlNode::TagText() const
{
    AnsiString out(Name);
    if (Attributes.Empty()) return out;
    out += ' ';
    Attributes.AppendText(out);
    return out;
}

WideString TXmlNode::GetText() const
{
    if (IsCData) {
        WideString out;
        AppendUtf8(out, Value.data(), Value.size());
        return out;
    }
    return XmlDecode(Value);
}

// ---- Document ---------------------------------------------------------------------

TXmlDocument::TXmlDocument() : arena_(std::in_place, 1024), Root(NewNode(nullptr)) {}

TXmlDocument::TXmlDocument(const WideString& rootName) : TXmlDocument()
{
    Root->SetName(rootName);
}

TXmlDocument::~TXmlDocument()
{
    if (Root && Root->Name.get_allocator().resource() == &*arena_) (void)Root.release();
}

void TXmlDocument::DropTree(size_t nextInput)
{
    // A tree made in the arena holds nothing but arena memory: releasing the
    // arena frees it at once, without visiting every node.
    if (Root && Root->Name.get_allocator().resource() == &*arena_) (void)Root.release();
    Root.reset();
    // A parsed tree takes about four times its text; one block avoids many.
    arena_.emplace(std::max<size_t>(1024, std::min<size_t>(nextInput, size_t{1} << 28) * 4));
}

TXmlNode* TXmlDocument::NewNode(TXmlNode* parent)
{
    return TXmlKey::allocator_type(&*arena_).new_object<TXmlNode>(parent);
}

namespace {

// Names the element from the text between '<' and '>' (a trailing '/' dropped)
// and reads its attributes.
void FillFromTag(TXmlNode& node, const char* from, const char* to)
{
    const char* space = FindByte(from, to, ' ');
    std::string_view name = TrimView(from, space ? space : to);
    ZO_ASSERT(!name.empty(), kUnit);
    node.Name.assign(name);
    if (space) node.Attributes.ParseText(space, to);
}

}  // namespace

void TXmlDocument::LoadFromBuffer(const char* data, size_t size)
{
    DropTree(data ? size : 0);
    if (!data) return;
    const char* p = data;
    const char* end = data + size;
    TXmlNode* current = nullptr;

    auto closeCurrent = [&current] {
        if (!current) RaiseTagMismatch();
        current = current->Parent;
    };

    while (p < end) {
        if (*p != '<') {
            const char* next = FindNearByte(p, end, '<');
            const char* stop = next ? next : end;
            // The last text run of an element wins; text outside any element is dropped.
            if (current) current->Value.assign(p, static_cast<size_t>(stop - p));
            p = stop;
            continue;
        }
        if (end - p >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
            const char* close = FindText(p + 9, end, "]]>");
            if (!close) RaiseTagMismatch();
            if (current && close > p + 9) {
                current->Value.assign(p + 9, static_cast<size_t>(close - p - 9));
                current->IsCData = true;
            }
            p = close + 3;
            continue;
        }
        const char* gt = FindByte(p + 1, end, '>');
        if (!gt) RaiseTagMismatch();
        char kind = p[1];
        if (kind == '!') {
            const char* close = FindText(p, end, "-->");
            if (!close) RaiseTagMismatch();
            p = close + 3;
            continue;
        }
        if (kind == '/') {
            closeCurrent();
        } else if (kind != '?') {
            const char* textEnd = gt;
            if (textEnd > p + 1 && textEnd[-1] == '/') --textEnd;
            // The element joins the tree only once its tag has been read.
            TXmlNodePtr node(NewNode(current));
            FillFromTag(*node, p + 1, textEnd);
            if (current) {
                current = current->Nodes.Adopt(std::move(node));
            } else {
                Root = std::move(node);  // a later top-level element replaces the root
                current = Root.get();
            }
        }
        if (kind != '?' && gt[-1] == '/') closeCurrent();
        p = gt + 1;
    }
}

void TXmlDocument::LoadFromStream(TStream& stream)
{
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        int64_t pos = memory->Position();
        int64_t size = memory->Size();
        if (pos > size) pos = size;
        LoadFromBuffer(reinterpret_cast<const char*>(memory->Memory()) + pos, static_cast<size_t>(size - pos));
        memory->SetPosition(size);
        return;
    }
    TMemoryStream copy;
    int64_t remaining = stream.Size() - stream.Position();
    if (remaining > 0) {
        copy.SetSize(remaining);
        copy.SetSize(static_cast<int64_t>(stream.Read(copy.Memory(), static_cast<size_t>(remaining))));
    }
    LoadFromBuffer(reinterpret_cast<const char*>(copy.Memory()), static_cast<size_t>(copy.Size()));
}

namespace {

// An upper bound of the element's written length, so the output grows once.
size_t WrittenSize(const TXmlNode& e, size_t depth)
{
    size_t n = depth * 4 + 2 * e.Name.size() + e.Value.size() + 20;
    for (int i = 0; i < e.Attributes.Count(); ++i) {
        const TXmlAttribute* a = e.Attributes.Items(i);
        n += a->Name.size() + a->Value.size() + 4;
    }
    for (const TXmlNode* child : e.Nodes) n += WrittenSize(*child, depth + 1);
    return n;
}

void WriteElement(const TXmlNode& e, AnsiString& indent, bool indented, AnsiString& out)
{
    auto newline = [&] {
        if (indented) out += "\r\n";
    };
    auto content = [&] {
        if (e.IsCData) {
            out += "<![CDATA[";
            out += e.Value;
            out += "]]>";
        } else {
            out += e.Value;
        }
    };
    if (indented) out += indent;
    out += '<';
    out += e.Name;
    if (!e.Attributes.Empty()) {
        out += ' ';
        e.Attributes.AppendText(out);
    }
    if (e.Nodes.Empty()) {
        if (!e.IsCData && e.Value.empty()) {
            out += "/>";
        } else {
            out += '>';
            content();
            out += "</";
            out += e.Name;
            out += '>';
        }
        newline();
        return;
    }
    out += '>';
    content();
    newline();
    if (indented) indent += "    ";
    for (const auto& child : e.Nodes) WriteElement(*child, indent, indented, out);
    if (indented) {
        indent.resize(indent.size() - 4);
        out += indent;
    }
    out += "</";
    out += e.Name;
    out += '>';
    newline();
}

}  // namespace

AnsiString TXmlDocument::SaveToString() const
{
    // Lines, each followed by CR LF; without indenting the whole tree is one line.
    AnsiString out;
    out.reserve((Root ? WrittenSize(*Root, 0) : 0) + 64);
    if (WithDeclaration) out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    if (Root) {
        AnsiString indent;
        WriteElement(*Root, indent, Indented, out);
        if (!Indented) out += "\r\n";
    }
    return out;
}

void TXmlDocument::SaveToStream(TStream& stream) const
{
    stream.WriteString(SaveToString());
}
