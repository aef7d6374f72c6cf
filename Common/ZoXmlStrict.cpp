// The strict reading of a document: the rules of XML itself, each fault one
// sentence with its place. The packaging tool reads projects this way, so a
// typing mistake is found where it was made; the installer keeps the lenient
// parser of ZoXmlUtils.cpp, which reads what this system writes and is fast.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ZoDecimal.h"
#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"
#include "ZoXmlUtils.h"

using namespace zo_scan;

TXmlPosition XmlPositionAt(std::string_view text, size_t offset)
{
    if (offset > text.size()) offset = text.size();
    TXmlPosition at{1, 1};
    for (size_t i = 0; i < offset; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++at.Line;
            at.Column = 1;
        } else if ((c & 0xC0) != 0x80) {  // continuation bytes belong to their character
            ++at.Column;
        }
    }
    return at;
}

size_t TXmlDocument::OffsetOf(const TXmlText& text) const
{
    const auto begin = reinterpret_cast<uintptr_t>(input_.data());
    const auto p = reinterpret_cast<uintptr_t>(text.data());
    if (input_.empty() || text.Owned() || p < begin || p > begin + input_.size()) return EXmlException::npos;
    return static_cast<size_t>(p - begin);
}

namespace {

// Pieces appended into one message (GCC warns wrongly about some chains of +).
std::string Cat(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (std::string_view p : parts) out += p;
    return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsBlank(std::string_view text)
{
    for (char c : text)
        if (!IsSpace(c)) return false;
    return true;
}

bool IsNameStart(char c)
{
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' || u >= 0x80;
}

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool IsXmlChar(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

class TStrictReader {
public:
    TStrictReader(TXmlDocument& doc, std::string_view text)
        : doc_(doc), begin_(text.data()), p_(text.data()), end_(text.data() + text.size())
    {
    }

    void Read()
    {
        if (end_ - p_ >= 2 && ((p_[0] == '\xFF' && p_[1] == '\xFE') || (p_[0] == '\xFE' && p_[1] == '\xFF')))
            Fail(p_, "the file is UTF-16 text; write it as UTF-8");
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
        // Any other file (a program, an archive, a text) is told apart by its first character.
        const char* first = p_;
        while (first < end_ && IsSpace(*first)) ++first;
        if (first < end_ && *first != '<') Fail(first, "not an XML document: it does not begin with '<'");
        CheckEncoding();
        if (Starts("<?xml") && end_ - p_ > 5 && (IsSpace(p_[5]) || p_[5] == '?')) Instruction(true);
        Misc(false);
        if (p_ == end_) Fail(p_, "no element at all: this is not an XML document");
        Elements();
        Misc(true);
    }

private:
    struct TOpen {
        TXmlNode* node;
        std::string_view name;
        const char* at;
    };

    [[noreturn]] void Fail(const char* at, const std::string& text)
    {
        throw EXmlException(FromUtf8(text), static_cast<size_t>(at - begin_));
    }
    std::string Place(const char* at) const
    {
        TXmlPosition pos = XmlPositionAt(std::string_view(begin_, static_cast<size_t>(end_ - begin_)),
                                         static_cast<size_t>(at - begin_));
        return "line " + std::to_string(pos.Line) + ", column " + std::to_string(pos.Column);
    }
    bool Starts(const char* s) const
    {
        size_t n = std::strlen(s);
        return static_cast<size_t>(end_ - p_) >= n && std::memcmp(p_, s, n) == 0;
    }
    bool SkipSpace()
    {
        const char* from = p_;
        while (p_ < end_ && IsSpace(*p_)) ++p_;
        return p_ != from;
    }
    std::string_view Name()
    {
        const char* from = p_;
        if (p_ < end_ && IsNameStart(*p_))
            while (p_ < end_ && IsNameChar(*p_)) ++p_;
        return {from, static_cast<size_t>(p_ - from)};
    }
    std::string CharText(const char* at) const
    {
        auto c = static_cast<unsigned char>(*at);
        if (c > ' ' && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
        return "byte 0x" + ZoDecimal::Hex(c, 2);
    }

    // UTF-8 throughout, and no control character XML forbids.
    void CheckEncoding()
    {
        const auto* s = reinterpret_cast<const unsigned char*>(p_);
        const auto* e = reinterpret_cast<const unsigned char*>(end_);
        while (s < e) {
            unsigned c = *s;
            const char* at = reinterpret_cast<const char*>(s);
            if (c < 0x80) {
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    Fail(at, "the control character U+" + ZoDecimal::Hex(c, 4) + " is not allowed in XML");
                }
                ++s;
                continue;
            }
            size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            uint32_t cp = len ? (c & (0xFFu >> (len + 1))) : 0;
            bool ok = len > 1 && static_cast<size_t>(e - s) >= len;
            for (size_t k = 1; ok && k < len; ++k) {
                ok = (s[k] & 0xC0) == 0x80;
                cp = (cp << 6) | (s[k] & 0x3F);
            }
            static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            if (!ok || cp < kMin[len] || !IsXmlChar(cp)) {
                Fail(at, "the file is not UTF-8 text here (byte 0x" + ZoDecimal::Hex(c, 2) + ")");
            }
            s += len;
        }
    }

    // A reference at p_ ('&'): one of the five entities or a character number.
    void Reference()
    {
        const char* amp = p_;
        const char* q = amp + 1;
        while (q < end_ && q - amp < 40 && (IsNameChar(*q) || *q == '#')) ++q;
        if (q >= end_ || *q != ';' || q == amp + 1)
            Fail(amp, "an '&' that starts no reference: write &amp; for an ampersand");
        std::string_view name(amp + 1, static_cast<size_t>(q - amp - 1));
        if (name[0] == '#') {
            std::string_view digits = name.substr(1);
            int base = 10;
            if (!digits.empty() && digits[0] == 'x') {
                base = 16;
                digits.remove_prefix(1);
            }
            uint64_t value = 0;
            bool ok = !digits.empty() && digits.size() <= 8;
            for (char c : digits) {
                int d = c >= '0' && c <= '9' ? c - '0'
                        : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : -1;
                if (d < 0) ok = false;
                value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d < 0 ? 0 : d);
            }
            if (!ok || !IsXmlChar(static_cast<uint32_t>(value)))
                Fail(amp, Cat({"&", name, "; names no character XML allows"}));
        } else if (name != "lt" && name != "gt" && name != "amp" && name != "quot" && name != "apos") {
            Fail(amp, Cat({"unknown entity &", name, "; (XML knows &lt; &gt; &amp; &quot; &apos; and &#N;)"}));
        }
        p_ = q + 1;
    }

    void Comment()
    {
        const char* at = p_;
        const char* close = FindText(p_ + 4, end_, "-->");
        if (!close) Fail(at, "the comment is not closed with -->");
        p_ = close + 3;
    }

    void Instruction(bool declaration)
    {
        const char* at = p_;
        p_ += 2;
        std::string_view target = Name();
        if (target.empty()) Fail(at, "'<?' starts no processing instruction");
        if (!declaration && target.size() == 3 && XmlNameEquals(target, "xml"))
            Fail(at, "the XML declaration <?xml ...?> may only stand at the very beginning of the file");
        const char* close = FindText(p_, end_, "?>");
        if (!close) Fail(at, Cat({"the processing instruction <?", target, " is not closed with ?>"}));
        p_ = close + 2;
    }

    // What may stand before and after the root element.
    void Misc(bool afterRoot)
    {
        for (;;) {
            SkipSpace();
            if (p_ == end_) return;
            if (Starts("<!--")) {
                Comment();
            } else if (Starts("<?")) {
                Instruction(false);
            } else if (Starts("<!DOCTYPE")) {
                Fail(p_, "a DOCTYPE is not supported here");
            } else if (Starts("</")) {
                Fail(p_, "an end tag with no element open");
            } else if (*p_ == '<' && p_ + 1 < end_ && IsNameStart(p_[1])) {
                if (!afterRoot) return;
                Fail(p_, "a second top-level element: a document has one root element, and everything belongs inside it");
            } else {
                Fail(p_, afterRoot ? "text after the end of the root element"
                                   : "text before the first element: this is not an XML document");
            }
        }
    }

    // The start tag at p_; the new element is attached below parent (or made the root).
    TXmlNode* StartTag(TXmlNode* parent, bool& empty)
    {
        const char* at = p_;
        ++p_;
        std::string_view name = Name();
        if (name.empty()) Fail(at, "a '<' that starts no tag: write &lt; for a less-than sign");
        const std::string tag = Cat({"<", name, ">"});
        spans_.clear();
        for (;;) {
            bool space = SkipSpace();
            if (p_ == end_) Fail(at, Cat({"the tag ", tag, " is not closed with '>'"}));
            if (*p_ == '>') {
                ++p_;
                empty = false;
                break;
            }
            if (*p_ == '/') {
                if (p_ + 1 < end_ && p_[1] == '>') {
                    p_ += 2;
                    empty = true;
                    break;
                }
                Fail(p_, Cat({"'/' in the tag ", tag, " must be followed by '>'"}));
            }
            if (*p_ == '<') Fail(at, Cat({"the tag ", tag, " is not closed with '>' before the next '<'"}));
            if (!space && !spans_.empty())
                Fail(p_, Cat({"the value of ", spans_.back().name, " (\"", spans_.back().value, "\") is followed by ",
                              CharText(p_), " without a space: a quote may be missing"}));
            const char* attrAt = p_;
            std::string_view attr = Name();
            if (attr.empty()) Fail(p_, Cat({"unexpected ", CharText(p_), " in the tag ", tag}));
            SkipSpace();
            if (p_ == end_ || *p_ != '=')
                Fail(attrAt, Cat({"the attribute ", attr, " has no value (write ", attr, "=\"...\")"}));
            ++p_;
            SkipSpace();
            if (p_ == end_ || (*p_ != '"' && *p_ != '\''))
                Fail(p_ < end_ ? p_ : attrAt, Cat({"the value of the attribute ", attr, " must be in quotes"}));
            const char quote = *p_++;
            const char* value = p_;
            while (p_ < end_ && *p_ != quote) {
                if (*p_ == '<')
                    Fail(value - 1, Cat({"the value of the attribute ", attr,
                                         " runs into a '<': its closing quote is missing (or write &lt;)"}));
                if (*p_ == '&')
                    Reference();
                else
                    ++p_;
            }
            if (p_ == end_) Fail(value - 1, Cat({"the value of the attribute ", attr, " has no closing quote"}));
            for (const TAttrSpan& s : spans_)
                if (s.name == attr) Fail(attrAt, Cat({"the attribute ", attr, " appears twice in ", tag}));
            spans_.push_back({attr, std::string_view(value, static_cast<size_t>(p_ - value))});
            ++p_;
        }
        TXmlNodePtr node = TXmlTreeAccess::NewNode(doc_, parent);
        node->Name.SetView(name);
        if (!spans_.empty()) TXmlTreeAccess::SetViews(node->Attributes, spans_.data(), spans_.size());
        if (parent) return TXmlTreeAccess::Adopt(*parent, std::move(node));
        doc_.Root = std::move(node);
        return doc_.Root.get();
    }

    // The root element and everything inside it, without recursion (a
    // document may nest deeply).
    void Elements()
    {
        std::vector<TOpen> open;
        do {
            if (*p_ != '<') {
                const char* from = p_;
                while (p_ < end_ && *p_ != '<') {
                    if (*p_ == '&') {
                        Reference();
                    } else {
                        if (*p_ == ']' && Starts("]]>")) Fail(p_, "']]>' may not stand in text");
                        ++p_;
                    }
                }
                // As in the lenient tree the last run wins, but white space
                // between children does not hide text before it.
                const std::string_view run(from, static_cast<size_t>(p_ - from));
                TXmlNode* node = open.back().node;
                if (!IsBlank(run) || node->IsCData || IsBlank(node->Value)) node->Value.SetView(run);
                continue;
            }
            if (Starts("<!--")) {
                Comment();
            } else if (Starts("<![CDATA[")) {
                const char* close = FindText(p_ + 9, end_, "]]>");
                if (!close) Fail(p_, "the CDATA section is not closed with ]]>");
                if (close > p_ + 9) {
                    TXmlNode* node = open.back().node;
                    node->Value.SetView(std::string_view(p_ + 9, static_cast<size_t>(close - p_ - 9)));
                    node->IsCData = true;
                }
                p_ = close + 3;
            } else if (Starts("<?")) {
                Instruction(false);
            } else if (Starts("<!")) {
                Fail(p_, "'<!' starts neither a comment nor a CDATA section");
            } else if (Starts("</")) {
                const char* at = p_;
                p_ += 2;
                std::string_view name = Name();
                SkipSpace();
                if (p_ == end_ || *p_ != '>') Fail(at, Cat({"the end tag </", name, "> is not closed with '>'"}));
                ++p_;
                const TOpen& top = open.back();
                if (name != top.name)
                    Fail(at, Cat({"the end tag </", name, "> does not match <", top.name, "> of ", Place(top.at)}));
                open.pop_back();
            } else {
                const char* at = p_;
                bool empty = false;
                TXmlNode* node = StartTag(open.empty() ? nullptr : open.back().node, empty);
                if (!empty) open.push_back({node, node->Name.view(), at});
            }
        } while (!open.empty() && p_ < end_);
        if (!open.empty())
            Fail(end_, Cat({"the file ends inside <", open.back().name, "> of ", Place(open.back().at),
                            ": its end tag is missing"}));
    }

    TXmlDocument& doc_;
    const char* begin_;
    const char* p_;
    const char* end_;
    std::vector<TAttrSpan> spans_;
};

}  // namespace

void TXmlDocument::LoadStrict(const char* data, size_t size)
{
    DropTree(size * 3 / 2);
    if (!data || size == 0) throw EXmlException(u"the file is empty", 0);
    char* copy = static_cast<char*>(arena_->allocate(size, 1));
    std::memcpy(copy, data, size);
    input_ = std::string_view(copy, size);
    TStrictReader(*this, input_).Read();
}

std::optional<std::string> XmlValueProblem(const TPropInfo& p, std::string_view text)
{
    AnsiString decoded;
    if (text.find('&') != std::string_view::npos) {
        decoded = ToUtf8(XmlDecode(text));
        text = decoded;
    }
    auto names = [&p] {
        std::string list;
        for (const char* n : p.Enum->Names) list += (list.empty() ? "" : ", ") + std::string(n);
        return list;
    };
    switch (p.Kind) {
    case TPropKind::WString:
    case TPropKind::String:
        return std::nullopt;
    case TPropKind::Enumeration:
        if (!text.empty() && p.Enum->IndexOf(text) >= 0) return std::nullopt;
        if (p.Enum == &BooleanEnumInfo()) return std::string("is not a Boolean: write True or False");
        return "is not a " + std::string(p.TypeName) + ": write one of " + names();
    case TPropKind::Set:
        if (zo_persist::TextToSet(p, text)) return std::nullopt;
        return "is not a set of " + std::string(p.TypeName) + ": write names of " + names() + " separated by commas";
    case TPropKind::Float: {
        auto v = zo_persist::FloatOf(text);
        if (v && std::isfinite(*v)) return std::nullopt;
        return std::string("is not a finite number (write it with a decimal point, such as 45123.5)");
    }
    case TPropKind::Int64:
        if (zo_persist::OrdinalOf(p, text)) return std::nullopt;
        return std::string("is not a whole number");
    default:  // Integer, Char, WChar
        if (zo_persist::OrdinalOf(p, text)) return std::nullopt;
        return std::string("is not a whole number from -2147483648 to 2147483647");
    }
}
