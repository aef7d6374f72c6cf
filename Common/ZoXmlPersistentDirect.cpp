// A persistent object's load straight from the bytes of its document, in one
// pass and without a tree: elements and attributes are read where they lie
// and the objects filled as they come.
//
// It reads the form this system writes and a little more. At the first thing
// it does not know, and at any error, it gives up and the caller parses the
// tree and walks it, which gives the same objects or raises the error. So
// that giving up changes nothing, values for the objects that already exist
// are held back until the whole document has been read; new list items are
// filled at once and join their lists only then.
#include <bit>
#include <vector>

#include "ZoXmlPersistentImpl.h"
#include "ZoXmlUtils.h"

using namespace zo_persist;
using namespace zo_scan;

namespace {

using TItems = std::vector<std::unique_ptr<TXmlPersistent>>;

// Objects inside objects; deeper documents are left to the tree.
constexpr int kMaxDepth = 64;

// A value for an object that already exists, stored once the document has been read.
struct TPendingValue {
    TXmlPersistent* obj = nullptr;
    const TPropInfo* prop = nullptr;
    int64_t ordinal = 0;
    double number = 0;
    WideString wide;
    AnsiString ansi;
};

struct TPendingSink {
    TPendingValue& v;
    bool& given;
    void Wide(WideString&& w) const
    {
        v.wide = std::move(w);
        given = true;
    }
    void Ansi(AnsiString&& a) const
    {
        v.ansi = std::move(a);
        given = true;
    }
    void Float(double d) const
    {
        v.number = d;
        given = true;
    }
    void Ordinal(int64_t o) const
    {
        v.ordinal = o;
        given = true;
    }
};

// A list of the target with its new items.
struct TPendingList {
    TXmlObjectList* list;
    TItems items;
};

// What a list load does once its items are read: clear, then append.
void ReplaceItems(TXmlObjectList& list, TItems&& items)
{
    list.Clear();
    TItems& stored = TXmlTreeAccess::ListItems(list);
    if (stored.empty()) {
        stored = std::move(items);
    } else {
        for (auto& item : items) stored.push_back(std::move(item));
    }
}

// Values up to this length are widened on the stack while they are scanned.
constexpr size_t kWideBuffer = 256;

// Scans an attribute value from s to its closing '"'; null when a '>' comes
// first (the tag would end inside the value) or the input ends. plain tells
// whether the value is ASCII without '&' or NUL. With Widen the bytes are
// also written to w as UTF-16 (room for kWideBuffer + 16), and plain also
// tells whether they fit.
template <bool Widen>
inline const char* ScanValue(const char* s, const char* end, char16_t* w, bool& plain)
{
    const char* p = s;
    unsigned odd = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if constexpr (Widen) {
            size_t at = static_cast<size_t>(p - s);
            if (at < kWideBuffer) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w + at), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w + at + 8), _mm_unpackhi_epi8(v, zero));
            }
        }
        auto stop = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('>')))));
        // The sign bit marks bytes of 0x80 and above.
        __m128i bad = _mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
        auto chunk = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(bad, v)));
        if (stop) {
            int k = std::countr_zero(stop);
            if (p[k] == '>') return nullptr;
            odd |= chunk & ((1u << k) - 1);
            plain = odd == 0 && (!Widen || static_cast<size_t>(p + k - s) <= kWideBuffer);
            return p + k;
        }
        odd |= chunk;
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (c == '"') {
            plain = odd == 0 && (!Widen || static_cast<size_t>(p - s) <= kWideBuffer);
            return p;
        }
        if (c == '>') return nullptr;
        odd |= c >= 0x80 || c == 0 || c == '&';
        if constexpr (Widen) {
            size_t at = static_cast<size_t>(p - s);
            if (at < kWideBuffer) w[at] = c;
        }
    }
    return nullptr;
}

// The length with its bound (kWideBuffer) hidden from the compiler, which
// would otherwise copy the text with a string instruction that is slow to
// start instead of calling memcpy.
inline size_t Unbounded(size_t n)
{
#if defined(__GNUC__)
    __asm__("" : "+r"(n));
#endif
    return n;
}

// The first '<' in [from, to), or null.
inline const char* FindTagStart(const char* from, const char* to)
{
#if defined(__SSE2__)
    while (to - from >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
        if (mask) return from + std::countr_zero(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    for (; from < to; ++from)
        if (*from == '<') return from;
    return nullptr;
}

// Equality with a pattern of 8 to 16 bytes given by its first and last 8.
inline bool SameWords(const char* s, uint64_t first, uint64_t last, size_t n)
{
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    return a == first && b == last;
}

inline uint32_t ReadWord32(const char* s)
{
    uint32_t v;
    std::memcpy(&v, s, 4);
    return v;
}

// The usual forms of plain text (ASCII without references) converted by the
// load rules; false leaves the text to ReadScalar.
inline bool StorePlainScalar(const TPropInfo& p, TXmlPersistent& obj, std::string_view text,
                             const TEnumInfo* boolean)
{
    switch (p.Kind) {
    case TPropKind::Enumeration:
        if (p.Enum == boolean) {
            // "True" and "False" as written.
            uint32_t head = 0;
            if (text.size() >= 4) std::memcpy(&head, text.data(), 4);
            if (text.size() == 4 && head == ReadWord32("True")) {
                p.SetOrd(obj, 1);
                return true;
            }
            if (text.size() == 5 && head == ReadWord32("Fals") && text[4] == 'e') {
                p.SetOrd(obj, 0);
                return true;
            }
        }
        if (!text.empty()) {
            // The names as written first, then in any case.
            const std::vector<std::string_view>& names = p.Enum->NameViews;
            int i = -1;
            for (size_t k = 0; k < names.size(); ++k) {
                if (names[k].size() == text.size() && SameBytes(names[k].data(), text.data(), text.size())) {
                    i = static_cast<int>(k);
                    break;
                }
            }
            if (i < 0) i = p.Enum->IndexOf(text);
            p.SetOrd(obj, i < 0 ? 0 : i);
        }
        return true;
    case TPropKind::Integer:
    case TPropKind::Char:
    case TPropKind::WChar:
        if (auto v = FastInt(text); v && *v >= INT32_MIN && *v <= INT32_MAX) {
            p.SetOrd(obj, *v);
            return true;
        }
        return false;
    case TPropKind::Int64:
        if (auto v = FastInt(text)) {
            p.SetOrd(obj, *v);
            return true;
        }
        return false;
    case TPropKind::Float:
        if (auto v = ExactDecimal(text)) {
            p.SetFloat(obj, *v);
            return true;
        }
        return false;
    default:
        return false;
    }
}

// What the load needs of a class, worked out once per load.
struct TLoadPlan {
    const TClassInfo* info = nullptr;
    std::vector<const TPropInfo*> scalars;  // the loaded scalar properties in order
    struct TWritten {
        const TPropInfo* prop = nullptr;
        std::string text;              // ' Name="', the way its attribute begins
        uint64_t first = 0, last = 0;  // the first and last 8 bytes of text, when it has 8 to 16
    };
    std::vector<TWritten> written;  // the same properties with their attributes' beginnings
    bool supported = true;                  // no property of a kind the walks refuse
    bool hasObjects = false;
    bool isList = false;
};

class TDirectLoad {
public:
    TDirectLoad(const char* data, size_t size) : p_(data), end_(data + size) {}

    // Reads the whole document; false when the tree must do it.
    bool Read(TXmlPersistent& target);
    // Stores what Read held back.
    void Commit();

private:
    enum TMark { kStartTag, kEndTag, kEnd, kUnknown };

    // Moves to the next start or end tag, passing over text, comments, CDATA
    // and declarations.
    TMark NextTag();
    // The element name of the start tag at p_; returns the byte after it, or null.
    const char* ReadName();
    // The start tag at p_ in the written form: its name and attributes.
    bool ReadStartTag();
    bool ReadEndTag();
    // Passes over the element whose start tag was just read.
    bool SkipElement();
    const TLoadPlan* PlanOf(const TXmlPersistent& obj, const TClassInfo& info);
    // Loads obj from the element at p_ (its name read, ending at afterName).
    bool LoadObject(TXmlPersistent& obj, const TClassInfo& info, const char* afterName, bool pending, int depth);
    // The attributes of a new object in the written form, read straight into
    // it; false (p_ unmoved) for any other form.
    bool ReadAttributesInOrder(TXmlPersistent& obj, const TLoadPlan& plan, const char* q);
    void StoreFromSpans(TXmlPersistent& obj, const TLoadPlan& plan, bool pending);
    bool LoadChildren(TXmlPersistent& obj, const TLoadPlan& plan, bool pending, int depth);
    bool LoadItems(TXmlObjectList& list, bool pending, int depth);
    // The list's new item for the element name just read, with its class; ok
    // is false when the list refuses the item's class.
    std::unique_ptr<TXmlPersistent> NewItem(TXmlObjectList& list, const TClassInfo*& info, bool& ok);

    const char* p_;
    const char* end_;
    // The tag just read.
    std::string_view name_;
    TAttrSpan spans_[kMaxPlainAttributes];
    size_t count_ = 0;
    bool selfClosed_ = false;
    // The last item name and its decoded form; the last item class a list took.
    std::string_view itemName_;
    WideString itemClass_;
    const TXmlObjectList* checkedList_ = nullptr;
    const TClassInfo* checkedClass_ = nullptr;
    std::vector<std::unique_ptr<TLoadPlan>> plans_;
    const TLoadPlan* lastPlan_ = nullptr;
    const TEnumInfo* boolean_ = &BooleanEnumInfo();
    char16_t wide_[kWideBuffer + 16];

    std::vector<TPendingValue> values_;
    std::vector<TPendingList> lists_;
};

TDirectLoad::TMark TDirectLoad::NextTag()
{
    for (;;) {
        if (p_ >= end_) return kEnd;
        if (*p_ != '<') {
            // Text: no element's text is a property.
            p_ = FindTagStart(p_, end_);
            if (!p_) {
                p_ = end_;
                return kEnd;
            }
        }
        if (end_ - p_ < 2) return kUnknown;
        char kind = p_[1];
        if (kind == '/') return kEndTag;
        if (kind == '!') {
            if (end_ - p_ >= 9 && std::memcmp(p_, "<![CDATA[", 9) == 0) {
                const char* close = FindText(p_ + 9, end_, "]]>");
                if (!close) return kUnknown;
                p_ = close + 3;
                continue;
            }
            const char* close = FindByte(p_ + 1, end_, '>') ? FindText(p_, end_, "-->") : nullptr;
            if (!close) return kUnknown;
            p_ = close + 3;
            continue;
        }
        if (kind == '?') {
            const char* gt = FindByte(p_ + 1, end_, '>');
            if (!gt) return kUnknown;
            p_ = gt + 1;
            continue;
        }
        return kStartTag;
    }
}

const char* TDirectLoad::ReadName()
{
    const char* q = SkipNameBytes(p_ + 1, end_);
    if (q == p_ + 1 || q >= end_) return nullptr;
    name_ = std::string_view(p_ + 1, static_cast<size_t>(q - p_ - 1));
    return q;
}

bool TDirectLoad::ReadStartTag()
{
    const char* gt = ReadPlainStartTag(p_, end_, name_, spans_, count_);
    if (!gt) return false;
    selfClosed_ = gt[-1] == '/';
    p_ = gt + 1;
    return true;
}

bool TDirectLoad::ReadEndTag()
{
    const char* gt = FindByte(p_ + 1, end_, '>');
    // "</a/>" closes two elements: left to the tree.
    if (!gt || gt[-1] == '/') return false;
    p_ = gt + 1;
    return true;
}

bool TDirectLoad::SkipElement()
{
    if (selfClosed_) return true;
    for (size_t depth = 1; depth > 0;) {
        switch (NextTag()) {
        case kStartTag:
            if (!ReadStartTag()) return false;
            if (!selfClosed_) ++depth;
            break;
        case kEndTag:
            if (!ReadEndTag()) return false;
            --depth;
            break;
        default:
            return false;
        }
    }
    return true;
}

const TLoadPlan* TDirectLoad::PlanOf(const TXmlPersistent& obj, const TClassInfo& info)
{
    if (!info.LoadsByWalk(obj)) return nullptr;
    if (lastPlan_ && lastPlan_->info == &info) return lastPlan_;
    for (const auto& plan : plans_) {
        if (plan->info == &info) return lastPlan_ = plan.get();
    }
    auto plan = std::make_unique<TLoadPlan>();
    plan->info = &info;
    plan->isList = info.InheritsFrom(TXmlObjectList::StaticClassInfo());
    for (const TPropInfo& p : info.Properties()) {
        if (p.Kind == TPropKind::Other) plan->supported = false;
        if (p.Kind == TPropKind::Class) plan->hasObjects = true;
        if (p.Kind < TPropKind::Class && p.Writable()) {
            plan->scalars.push_back(&p);
            TLoadPlan::TWritten& w = plan->written.emplace_back();
            w.prop = &p;
            w.text.reserve(p.NameLength + 3u);
            w.text += ' ';
            w.text += p.NameView();
            w.text += "=\"";
            if (w.text.size() >= 8 && w.text.size() <= 16) {
                std::memcpy(&w.first, w.text.data(), 8);
                std::memcpy(&w.last, w.text.data() + w.text.size() - 8, 8);
            }
        }
    }
    // A list's own sub-objects would share its children with the items; two
    // sub-objects of one name would share their element.
    if (plan->hasObjects && (plan->isList || !info.DistinctNames() || info.Properties().size() > 64))
        plan->supported = false;
    lastPlan_ = plans_.emplace_back(std::move(plan)).get();
    return lastPlan_;
}

bool TDirectLoad::LoadObject(TXmlPersistent& obj, const TClassInfo& info, const char* afterName, bool pending,
                             int depth)
{
    const TLoadPlan* plan = PlanOf(obj, info);
    if (!plan || !plan->supported || depth > kMaxDepth) return false;
    if (pending || !ReadAttributesInOrder(obj, *plan, afterName)) {
        if (!ReadStartTag()) return false;
        StoreFromSpans(obj, *plan, pending);
    }
    if (plan->isList) return LoadItems(static_cast<TXmlObjectList&>(obj), pending, depth);
    if (!plan->hasObjects) return selfClosed_ || SkipElement();
    return LoadChildren(obj, *plan, pending, depth);
}

bool TDirectLoad::ReadAttributesInOrder(TXmlPersistent& obj, const TLoadPlan& plan, const char* q)
{
    // Every property in order as ' Name="value"', then '>' or "/>": exactly
    // what the tag rules read, each attribute the first of its name.
    if (!plan.info->DistinctNames()) return false;
    const TLoadPlan::TWritten* const last = plan.written.data() + plan.written.size();
    for (const TLoadPlan::TWritten* w = plan.written.data(); w != last; ++w) {
        const TLoadPlan::TWritten& written = *w;
        const TPropInfo* p = written.prop;
        size_t len = written.text.size();
        if (static_cast<size_t>(end_ - q) <= len) return false;
        if (written.first ? !SameWords(q, written.first, written.last, len) : !SameBytes(q, written.text.data(), len))
            return false;
        const char* value = q + len;
        bool plain = false;
        const char* close;
        if (p->Kind == TPropKind::WString) {
            close = ScanValue<true>(value, end_, wide_, plain);
            if (!close) return false;
            size_t n = static_cast<size_t>(close - value);
            if (!plain) {
                p->SetWStr(obj, WideText(std::string_view(value, n), false));
            } else if (p->RefWStr) {
                p->RefWStr(obj).assign(wide_, Unbounded(n));
            } else {
                p->SetWStr(obj, WideString(wide_, Unbounded(n)));
            }
        } else {
            close = ScanValue<false>(value, end_, nullptr, plain);
            if (!close) return false;
            std::string_view text(value, static_cast<size_t>(close - value));
            if (!plain || !StorePlainScalar(*p, obj, text, boolean_)) ReadScalar(*p, text, false, TStoreSink{*p, obj});
        }
        q = close + 1;
    }
    if (q < end_ && *q == '>') {
        selfClosed_ = false;
    } else if (end_ - q >= 2 && q[0] == '/' && q[1] == '>') {
        selfClosed_ = true;
        ++q;
    } else {
        return false;  // more attributes, or blanks: the tag rules read them
    }
    p_ = q + 1;
    return true;
}

void TDirectLoad::StoreFromSpans(TXmlPersistent& obj, const TLoadPlan& plan, bool pending)
{
    std::span<const TAttrSpan> attrs(spans_, count_);
    size_t next = 0;
    bool inOrder = plan.info->DistinctNames();
    for (const TPropInfo* p : plan.scalars) {
        const TAttrSpan* a = FindPropertyAttribute(attrs, p->NameView(), next, inOrder);
        if (!a) continue;
        if (pending) {
            TPendingValue v;
            v.obj = &obj;
            v.prop = p;
            bool given = false;
            ReadScalar(*p, a->value, false, TPendingSink{v, given});
            if (given) values_.push_back(std::move(v));
        } else {
            ReadScalar(*p, a->value, false, TStoreSink{*p, obj});
        }
    }
}

bool TDirectLoad::LoadChildren(TXmlPersistent& obj, const TLoadPlan& plan, bool pending, int depth)
{
    // Each sub-object loads from the first child of its property's name.
    const std::vector<TPropInfo>& props = plan.info->Properties();
    uint64_t loaded = 0;
    if (selfClosed_) return true;
    for (;;) {
        switch (NextTag()) {
        case kEndTag:
            return ReadEndTag();
        case kStartTag: {
            const char* afterName = ReadName();
            if (!afterName) return false;
            TXmlPersistent* sub = nullptr;
            for (size_t i = 0; i < props.size(); ++i) {
                const TPropInfo& p = props[i];
                if (p.Kind != TPropKind::Class || !XmlNameEquals(name_, p.NameView())) continue;
                if (!(loaded & (uint64_t{1} << i)) && p.GetObject) sub = p.GetObject(obj);
                loaded |= uint64_t{1} << i;
                break;
            }
            bool ok = sub ? LoadObject(*sub, sub->ClassInfo(), afterName, pending, depth + 1)
                          : ReadStartTag() && SkipElement();
            if (!ok) return false;
            break;
        }
        default:
            return false;
        }
    }
}

std::unique_ptr<TXmlPersistent> TDirectLoad::NewItem(TXmlObjectList& list, const TClassInfo*& itemInfo, bool& ok)
{
    // Item elements usually share one name: it is decoded once.
    if (itemClass_.empty() || name_.data() != itemName_.data() || name_.size() != itemName_.size()) {
        itemClass_ = XmlDecode(name_);
        itemName_ = name_;
    }
    std::unique_ptr<TXmlPersistent> item = list.CreateItem(itemClass_);
    ok = true;
    if (!item) return item;
    // An item of a class the list refuses makes the load raise.
    const TClassInfo& info = item->ClassInfo();
    itemInfo = &info;
    if (&list != checkedList_ || &info != checkedClass_) {
        const TClassInfo* itemClass = TXmlTreeAccess::ItemClass(list);
        ok = !itemClass || info.InheritsFrom(*itemClass);
        checkedList_ = ok ? &list : nullptr;
        checkedClass_ = &info;
    }
    return item;
}

bool TDirectLoad::LoadItems(TXmlObjectList& list, bool pending, int depth)
{
    // The written form: the items inside one "Items" child. Items straight
    // under the list, or more children beside "Items", are left to the tree.
    TItems items;
    if (!selfClosed_) {
        TMark mark = NextTag();
        if (mark == kStartTag) {
            if (!ReadStartTag() || !XmlNameEquals(name_, "Items")) return false;
            for (bool open = !selfClosed_; open;) {
                switch (NextTag()) {
                case kEndTag:
                    if (!ReadEndTag()) return false;
                    open = false;
                    break;
                case kStartTag: {
                    // Usually the name of the item before.
                    const char* afterName = p_ + 1 + itemName_.size();
                    if (!itemName_.empty() && afterName < end_ && TagByte(*afterName) != kNameByte &&
                        SameBytes(p_ + 1, itemName_.data(), itemName_.size())) {
                        name_ = itemName_;
                    } else if (!(afterName = ReadName())) {
                        return false;
                    }
                    bool ok = false;
                    const TClassInfo* info = nullptr;
                    std::unique_ptr<TXmlPersistent> item = NewItem(list, info, ok);
                    if (!ok) return false;
                    if (!item) {
                        if (!ReadStartTag() || !SkipElement()) return false;
                        break;
                    }
                    if (!LoadObject(*item, *info, afterName, false, depth + 1)) return false;
                    items.push_back(std::move(item));
                    break;
                }
                default:
                    return false;
                }
            }
            mark = NextTag();
        }
        if (mark != kEndTag || !ReadEndTag()) return false;
    }
    if (pending) {
        lists_.push_back({&list, std::move(items)});
    } else {
        ReplaceItems(list, std::move(items));
    }
    return true;
}

bool TDirectLoad::Read(TXmlPersistent& target)
{
    try {
        switch (NextTag()) {
        case kEnd:
            return true;  // no element: nothing changes
        case kStartTag: {
            const char* afterName = ReadName();
            if (!afterName || !LoadObject(target, target.ClassInfo(), afterName, true, 0)) return false;
            // A later top-level element would replace the root; an end tag is an error.
            return NextTag() == kEnd;
        }
        default:
            return false;
        }
    } catch (const Exception&) {
        return false;  // the tree raises it again, after the same partial load
    }
}

void TDirectLoad::Commit()
{
    for (TPendingValue& v : values_) {
        const TPropInfo& p = *v.prop;
        switch (p.Kind) {
        case TPropKind::WString: p.SetWStr(*v.obj, std::move(v.wide)); break;
        case TPropKind::String: p.SetStr(*v.obj, std::move(v.ansi)); break;
        case TPropKind::Float: p.SetFloat(*v.obj, v.number); break;
        default: p.SetOrd(*v.obj, v.ordinal); break;
        }
    }
    for (TPendingList& l : lists_) ReplaceItems(*l.list, std::move(l.items));
}

}  // namespace

bool TXmlTreeAccess::LoadDirect(TXmlPersistent& object, const char* data, size_t size)
{
    TDirectLoad load(data, size);
    if (!load.Read(object)) return false;
    load.Commit();
    return true;
}
