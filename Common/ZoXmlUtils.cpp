// The XML tree: escaping, the parser that reads its bytes in place, and
// the writer.
#include "ZoXmlUtils.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"

using namespace zo_scan;

namespace {

constexpr const char* kUnit = "Common/ZoXmlUtils";
const char16_t* const kTagMismatch = u"XML 标签不匹配";

[[noreturn]] void RaiseTagMismatch(size_t offset = EXmlException::npos)
{
    throw EXmlException(kTagMismatch, offset);
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

// ---- Texts of the tree ------------------------------------------------------------

TXmlText& TXmlText::operator=(TXmlText&& other) noexcept
{
    if (this != &other) {
        Free();
        data_ = other.data_;
        size_ = other.size_;
        other.Forget();
    }
    return *this;
}

namespace {
std::atomic<size_t> ownedTexts{0};
}

size_t TXmlText::OwnedCount() noexcept
{
    return ownedTexts.load(std::memory_order_relaxed);
}

void TXmlText::FreeOwned() noexcept
{
    delete[] data_;
    ownedTexts.fetch_sub(1, std::memory_order_relaxed);
}

void TXmlText::assign(std::string_view text)
{
    if (text.empty()) {
        clear();
        return;
    }
    // The copy comes first: the text may be a part of this one.
    char* copy = new char[text.size()];
    std::memcpy(copy, text.data(), text.size());
    Free();
    ownedTexts.fetch_add(1, std::memory_order_relaxed);
    data_ = copy;
    size_ = text.size() | kOwned;
}

// ---- UTF-8 to UTF-16 ----------------------------------------------------------------

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
        size_t ascii = WidenAscii<StopAtAmp>(w, s + i, n - i);
        w += ascii;
        i += ascii;
        if (i >= n) break;
        uint32_t c = s[i];
        if (c < 0x80) {  // a NUL, or an '&' with StopAtAmp
            if (StopAtAmp) return nullptr;
            break;
        }
        size_t len = 1;
        w = PutUtf16(w, DecodeUtf8Point(s + i, n - i, len));
        i += len;
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

bool DecodePlain(std::string_view text, WideString& out)
{
    // Short texts are converted on the stack and copied once into a string of
    // their exact length; longer ones in place.
    char16_t buffer[256];
    if (text.size() <= std::size(buffer)) {
        char16_t* end = ConvertUtf8<true>(buffer, text.data(), text.size());
        if (!end) return false;
        out = WideString(buffer, static_cast<size_t>(end - buffer));
        return true;
    }
    out.resize(text.size());
    char16_t* end = ConvertUtf8<true>(out.data(), text.data(), text.size());
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

// The attribute rules on the tag text [from, to): pairs are appended to spans.
void ScanAttributes(const char* from, const char* to, std::vector<TAttrSpan>& spans)
{
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

// A character reference as UTF-16: one code unit, or a surrogate pair above
// U+FFFF. What XML does not allow as a character (controls other than tab and
// line breaks, lone surrogates, U+FFFE and U+FFFF, anything past U+10FFFF)
// is an error rather than some other character.
void AppendCharReference(WideString& out, int64_t code, std::string_view entity)
{
    bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                   (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed) {
        WideString name;
        AppendUtf8(name, entity.data(), entity.size());
        throw EConvertError(u"'&" + name + u";' is not a character XML allows");
    }
    if (code <= 0xFFFF) {
        out.push_back(static_cast<char16_t>(code));
        return;
    }
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
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
            AppendCharReference(out, *value, entity);
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
    std::vector<TAttrSpan> spans;
    ScanAttributes(from, to, spans);
    items_.reserve(spans.size());
    for (const TAttrSpan& span : spans) {
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
    if (node) TXmlNode::allocator_type(node->Nodes.get_allocator()).delete_object(node);
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

namespace {

bool MadeIn(const TXmlNode& node, std::pmr::memory_resource* arena)
{
    return node.Nodes.get_allocator().resource() == arena;
}

}  // namespace

// The arena holds the nodes, their lists and the parsed bytes; what it cannot
// free is a text that owns its bytes, so those are visited first (without
// recursion: a parsed tree may be very deep).
void TXmlTreeAccess::ReleaseOwnedTexts(TXmlNode& root)
{
    std::vector<TXmlNode*> pending{&root};
    while (!pending.empty()) {
        TXmlNode* node = pending.back();
        pending.pop_back();
        node->Name.clear();
        node->Value.clear();
        for (TXmlAttribute& a : node->Attributes.items_) {
            if (a.Name.Owned()) a.Name.clear();
            if (a.Value.Owned()) a.Value.clear();
        }
        for (TXmlNode* child : node->Nodes) pending.push_back(child);
    }
}

void TXmlTreeAccess::SetViews(TXmlAttributeList& list, const TAttrSpan* spans, size_t count)
{
    list.items_.reserve(count);
    for (size_t i = 0; i < count; ++i)
        list.items_.emplace_back(spans[i].name, spans[i].value, TXmlViewOf{});
}

void TXmlTreeAccess::ParseInPlace(TXmlDocument& doc, const char* data, size_t size)
{
    doc.DropTree(data ? size : 0);
    if (data) doc.ParseInPlace(data, size);
}

TXmlDocument::TXmlDocument() : arena_(std::in_place, 1024), Root(NewNode(nullptr)) {}

TXmlDocument::TXmlDocument(const WideString& rootName) : TXmlDocument()
{
    Root->SetName(rootName);
}

TXmlDocument::~TXmlDocument()
{
    if (Root && MadeIn(*Root, &*arena_)) {
        if (TXmlText::OwnedCount() != 0) TXmlTreeAccess::ReleaseOwnedTexts(*Root);
        (void)Root.release();
    }
}

void TXmlDocument::DropTree(size_t nextInput)
{
    input_ = {};
    // A tree made in the arena holds nothing else once its own texts are
    // freed: releasing the arena frees it at once, without destroying every node.
    if (Root && MadeIn(*Root, &*arena_)) {
        if (TXmlText::OwnedCount() != 0) TXmlTreeAccess::ReleaseOwnedTexts(*Root);
        (void)Root.release();
    }
    Root.reset();
    // A parsed tree takes about twice its text; one block avoids many.
    arena_.emplace(std::max<size_t>(1024, std::min<size_t>(nextInput, size_t{1} << 28) * 2));
}

TXmlNode* TXmlDocument::NewNode(TXmlNode* parent)
{
    return TXmlNode::allocator_type(&*arena_).new_object<TXmlNode>(parent);
}

void TXmlDocument::LoadFromBuffer(const char* data, size_t size)
{
    if (!data || size == 0) {
        DropTree(0);
        return;
    }
    DropTree(size * 3 / 2);
    // The tree refers to the document's own copy of the bytes.
    char* copy = static_cast<char*>(arena_->allocate(size, 1));
    std::memcpy(copy, data, size);
    ParseInPlace(copy, size);
}

void TXmlDocument::ParseInPlace(const char* data, size_t size)
{
    input_ = std::string_view(data, size);
    const char* p = data;
    const char* end = data + size;
    TXmlNode* current = nullptr;
    TAttrSpan spans[kMaxPlainAttributes];
    std::vector<TAttrSpan> generalSpans;
    auto at = [&p, data] { return static_cast<size_t>(p - data); };

    auto closeCurrent = [&current, &at] {
        if (!current) RaiseTagMismatch(at());
        current = current->Parent;
    };
    // The element joins the tree only once its tag has been read.
    auto attach = [&](TXmlNodePtr node) {
        if (current) {
            current = current->Nodes.Adopt(std::move(node));
        } else {
            Root = std::move(node);  // a later top-level element replaces the root
            current = Root.get();
        }
    };

    while (p < end) {
        if (*p != '<') {
            const char* next = FindNearByte(p, end, '<');
            const char* stop = next ? next : end;
            // The last text run of an element wins; text outside any element is dropped.
            if (current) current->Value.SetView(std::string_view(p, static_cast<size_t>(stop - p)));
            p = stop;
            continue;
        }
        if (p + 1 < end && p[1] != '!' && p[1] != '/' && p[1] != '?') {
            std::string_view name;
            size_t count = 0;
            if (const char* gt = ReadPlainStartTag(p, end, name, spans, count)) {
                TXmlNodePtr node(NewNode(current));
                node->Name.SetView(name);
                if (count) TXmlTreeAccess::SetViews(node->Attributes, spans, count);
                attach(std::move(node));
                if (gt[-1] == '/') closeCurrent();
                p = gt + 1;
                continue;
            }
        }
        if (end - p >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
            const char* close = FindText(p + 9, end, "]]>");
            if (!close) RaiseTagMismatch(at());
            if (current && close > p + 9) {
                current->Value.SetView(std::string_view(p + 9, static_cast<size_t>(close - p - 9)));
                current->IsCData = true;
            }
            p = close + 3;
            continue;
        }
        const char* gt = FindByte(p + 1, end, '>');
        if (!gt) RaiseTagMismatch(at());
        char kind = p[1];
        if (kind == '!') {
            const char* close = FindText(p, end, "-->");
            if (!close) RaiseTagMismatch(at());
            p = close + 3;
            continue;
        }
        if (kind == '/') {
            closeCurrent();
        } else if (kind != '?') {
            // The general rules for the text between '<' and '>', a trailing '/' dropped.
            const char* from = p + 1;
            const char* to = gt;
            if (to > from && to[-1] == '/') --to;
            TXmlNodePtr node(NewNode(current));
            const char* space = FindByte(from, to, ' ');
            std::string_view name = TrimView(from, space ? space : to);
            ZO_ASSERT(!name.empty(), kUnit);
            node->Name.SetView(name);
            if (space) {
                generalSpans.clear();
                ScanAttributes(space, to, generalSpans);
                TXmlTreeAccess::SetViews(node->Attributes, generalSpans.data(), generalSpans.size());
            }
            attach(std::move(node));
        }
        if (kind != '?' && gt[-1] == '/') closeCurrent();
        p = gt + 1;
    }
}

void TXmlDocument::LoadFromStream(TStream& stream)
{
    if (auto* memory = stream.AsMemoryStream()) {
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
    for (const TXmlAttribute& a : e.Attributes.All()) n += a.Name.size() + a.Value.size() + 4;
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
