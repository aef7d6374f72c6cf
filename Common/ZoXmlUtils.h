// A small XML tree with its parser and writer, and the persistence of
// configuration objects through their published properties (XML and JSON).
//
// The tree keeps names and values as UTF-8 in the escaped form of the file;
// conversion to UTF-16 happens only at the accessors.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <memory_resource>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "ZoStream.h"
#include "ZoTypes.h"

// The XML unit's error. A parser that knows where in its bytes the fault lies
// says so (Offset); XmlPositionAt turns that into a line and a column.
class EXmlException : public Exception {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);
    explicit EXmlException(WideString message, size_t offset = npos) : Exception(std::move(message)), offset_(offset) {}
    size_t Offset() const noexcept { return offset_; }

private:
    size_t offset_;
};

// A place in a text: line and column from 1, the column counted in characters.
struct TXmlPosition {
    int Line = 0;
    int Column = 0;
};
// The place of the byte at offset in the UTF-8 text (offsets past the end give the end).
TXmlPosition XmlPositionAt(std::string_view text, size_t offset);
// The JSON form of persistent objects; members keep their insertion order.
using TJsonObject = nlohmann::ordered_json;
// "List index out of bounds (%d)"
ZO_DECLARE_ERROR(EListError, Exception);

// UTF-16 -> UTF-8 with tab, LF, CR, both quotes, '&', '<' and '>' replaced by references.
AnsiString XmlEncode(const WideString& text);
// The inverse: resolves &lt; &gt; &amp; &quot; &apos; (any case) and &#N; / &#xN;.
// An '&' without ';' raises EXmlException; an empty or unknown entity is an
// assertion failure; a malformed number raises EConvertError.
WideString XmlDecode(std::string_view text);

// ---- Document model -----------------------------------------------------------
//
// A document keeps its elements and attributes in one arena that is released
// with the tree; elements made outside a document use the ordinary heap.
// Either way a node owns its children.

// Selects the constructors whose texts refer to bytes that outlive them.
struct TXmlViewOf {};

// The bytes of a name or value. What the parser reads stays where it lies (in
// the document's copy of the input) and is only referred to; text set through
// this class is copied and owned. Copies of a text always own their bytes.
class TXmlText {
public:
    static constexpr size_t npos = std::string_view::npos;

    TXmlText() noexcept = default;
    TXmlText(std::string_view text, TXmlViewOf) noexcept : data_(text.data()), size_(text.size()) {}
    TXmlText(const TXmlText& other) { assign(other.view()); }
    TXmlText(TXmlText&& other) noexcept : data_(other.data_), size_(other.size_) { other.Forget(); }
    TXmlText& operator=(const TXmlText& other)
    {
        if (this != &other) assign(other.view());
        return *this;
    }
    TXmlText& operator=(TXmlText&& other) noexcept;
    TXmlText& operator=(std::string_view text)
    {
        assign(text);
        return *this;
    }
    TXmlText& operator=(const char* text) { return *this = std::string_view(text); }
    ~TXmlText() { Free(); }

    // Copies the bytes.
    void assign(std::string_view text);
    void assign(const char* data, size_t size) { assign(std::string_view(data, size)); }
    void clear() noexcept
    {
        Free();
        Forget();
    }
    // Refers to bytes that outlive this text and stay unchanged; nothing is copied.
    void SetView(std::string_view text) noexcept
    {
        Free();
        data_ = text.data();
        size_ = text.size();
    }
    bool Owned() const noexcept { return (size_ & kOwned) != 0; }
    // How many texts own their bytes right now, in the whole process. While
    // none does, a document's tree holds none either and its arena is
    // released without visiting the tree.
    static size_t OwnedCount() noexcept;

    const char* data() const noexcept { return data_; }
    size_t size() const noexcept { return static_cast<size_t>(size_ & ~kOwned); }
    bool empty() const noexcept { return size() == 0; }
    std::string_view view() const noexcept { return {data_, size()}; }
    operator std::string_view() const noexcept { return view(); }
    char operator[](size_t i) const noexcept { return data_[i]; }
    size_t find(char c, size_t from = 0) const noexcept { return view().find(c, from); }

    friend bool operator==(const TXmlText& a, const TXmlText& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const TXmlText& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const TXmlText& a, const char* b) noexcept { return a.view() == std::string_view(b); }

private:
    void Free() noexcept
    {
        if (Owned()) FreeOwned();
    }
    void FreeOwned() noexcept;
    void Forget() noexcept
    {
        data_ = "";
        size_ = 0;
    }
    static constexpr uint64_t kOwned = uint64_t{1} << 63;
    const char* data_ = "";
    uint64_t size_ = 0;  // the length, with kOwned set when the bytes are this text's own
};

class TXmlKey {
public:
    TXmlKey() = default;
    TXmlKey(std::string_view name, std::string_view value, TXmlViewOf v) noexcept
        : Name(name, v), Value(value, v)
    {
    }

    bool IsCData = false;  // Value holds raw CDATA text rather than escaped text
    TXmlText Name;         // UTF-8, escaped
    TXmlText Value;        // UTF-8, escaped unless IsCData

    void SetName(const WideString& name) { Name = XmlEncode(name); }
    WideString GetName() const { return XmlDecode(Name); }
};

class TXmlAttribute : public TXmlKey {
public:
    using TXmlKey::TXmlKey;
    TXmlAttribute() = default;

    WideString GetValue() const;
    void SetValue(const WideString& value);
    void SetInteger(int64_t value);
    void SetFloat(double value);  // general format, 15 significant digits
};

class TXmlNode;

// ASCII case-insensitive equality of escaped names.
inline bool XmlNameEquals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x == y) continue;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

[[noreturn]] void RaiseListIndexError(int index);

// An ordered list that owns its items; duplicate names are allowed. Name
// lookups compare the escaped UTF-8 names without regard to ASCII case.
template <class T, class Slot>
class TXmlKeyList {
public:
    using allocator_type = std::pmr::polymorphic_allocator<char>;
    explicit TXmlKeyList(const allocator_type& a = {}) : items_(a) {}

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    // Raises EListError when out of range.
    T* Items(int index) const
    {
        if (index < 0 || index >= Count()) RaiseListIndexError(index);
        return Ptr(items_[static_cast<size_t>(index)]);
    }
    int IndexOfName(const WideString& name) const { return IndexOfEncodedName(XmlEncode(name)); }
    T* FindByName(const WideString& name) const
    {
        int i = IndexOfName(name);
        return i < 0 ? nullptr : Ptr(items_[static_cast<size_t>(i)]);
    }
    // Lookup by a name already in escaped form.
    int IndexOfEncodedName(std::string_view encoded) const
    {
        for (size_t i = 0; i < items_.size(); ++i)
            if (XmlNameEquals(Ptr(items_[i])->Name, encoded)) return static_cast<int>(i);
        return -1;
    }
    allocator_type get_allocator() const { return items_.get_allocator(); }

protected:
    static T* Ptr(const T& item) { return const_cast<T*>(&item); }
    static T* Ptr(T* item) { return item; }
    std::pmr::vector<Slot> items_;
};

// Attributes are held by value; a pointer to one stays valid until the next
// Add, FindOrAdd, ParseText or Delete on the same list.
class TXmlAttributeList : public TXmlKeyList<TXmlAttribute, TXmlAttribute> {
public:
    using TXmlKeyList::TXmlKeyList;
    TXmlAttribute* Add(const WideString& name);
    TXmlAttribute* FindOrAdd(const WideString& name);
    TXmlAttribute* FindOrAddEncoded(std::string_view encodedName);
    // Clears the list, then reads name="value" pairs from the raw tag text.
    void ParseText(const char* from, const char* to);
    // name="value" pairs joined by single spaces, stored bytes unchanged.
    AnsiString ToText() const;
    void AppendText(AnsiString& out) const;
    void Clear() { items_.clear(); }
    void Delete(int index);
    // All attributes in order, for walks that read them.
    std::span<const TXmlAttribute> All() const { return items_; }

private:
    friend struct TXmlTreeAccess;
};

class TXmlNodeList : public TXmlKeyList<TXmlNode, TXmlNode*> {
public:
    using TXmlKeyList::TXmlKeyList;
    TXmlNodeList(const TXmlNodeList&) = delete;
    TXmlNodeList& operator=(const TXmlNodeList&) = delete;
    ~TXmlNodeList() { Clear(); }

    void Clear();
    void Delete(int index);
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    friend class TXmlNode;
    friend class TXmlDocument;
    friend struct TXmlTreeAccess;
    void MakeRoom();
    TXmlNode* Append(TXmlNode* parent);
    // Takes a node made with this list's allocator.
    TXmlNode* Adopt(std::unique_ptr<TXmlNode, struct TXmlNodeDeleter> node);
};

// An element. Nodes own their children (made with the node's own allocator);
// Parent is a back pointer.
class TXmlNode : public TXmlKey {
public:
    using allocator_type = std::pmr::polymorphic_allocator<char>;
    explicit TXmlNode(TXmlNode* parent = nullptr, const allocator_type& a = {})
        : Attributes(a), Nodes(a), Parent(parent)
    {
    }
    TXmlNode(const TXmlNode&) = delete;
    TXmlNode& operator=(const TXmlNode&) = delete;

    TXmlAttributeList Attributes;
    TXmlNodeList Nodes;
    TXmlNode* Parent = nullptr;

    TXmlNode* AddChild(const WideString& name);
    TXmlNode* AddChildEncoded(std::string_view encodedName);
    TXmlNode* FindChild(const WideString& name) const;
    TXmlNode* FindChildEncoded(std::string_view encodedName) const;
    TXmlNode* ChildByName(const WideString& name);
    // Name, or Name + " " + the attribute text.
    AnsiString TagText() const;
    // The element's text: the CDATA bytes as UTF-8, or the decoded escaped text.
    WideString GetText() const;
};

// Frees a node with the allocator it was made with.
struct TXmlNodeDeleter {
    void operator()(TXmlNode* node) const;
};
using TXmlNodePtr = std::unique_ptr<TXmlNode, TXmlNodeDeleter>;

class TXmlDocument {
    std::optional<std::pmr::monotonic_buffer_resource> arena_;  // outlives Root

public:
    TXmlDocument();                                // root with an empty name
    explicit TXmlDocument(const WideString& rootName);
    ~TXmlDocument();
    TXmlDocument(const TXmlDocument&) = delete;
    TXmlDocument& operator=(const TXmlDocument&) = delete;

    bool Indented = true;         // one element per line, four spaces per level
    bool WithDeclaration = true;  // <?xml version="1.0" encoding="utf-8"?>
    TXmlNodePtr Root;             // none after loading input without an element

    // Parses a copy of the bytes kept with the tree. Structural errors raise
    // EXmlException "XML 标签不匹配" with Root holding what was parsed so far.
    void LoadFromBuffer(const char* data, size_t size);
    void LoadFromBuffer(const uint8_t* data, size_t size)
    {
        LoadFromBuffer(reinterpret_cast<const char*>(data), size);
    }
    // From the stream's position to its end.
    void LoadFromStream(TStream& stream);
    // Parses a copy of the bytes by the rules of XML itself (well-formed, no
    // DTD; what the lenient parser lets pass, such as an end tag naming
    // another element or a missing root end tag, is refused). Every fault
    // raises EXmlException with one sentence and its Offset. The tree is read
    // as XML means it (the lenient parser misreads a few valid forms); white
    // space between child elements does not replace an element's text.
    void LoadStrict(const char* data, size_t size);
    // The loaded bytes the tree refers to (empty for a tree built in code).
    std::string_view Input() const { return input_; }
    // Where a name or value of the tree lies in Input(); npos for a text set
    // in code.
    size_t OffsetOf(const TXmlText& text) const;
    // UTF-8 without byte-order mark, CR LF after every line.
    AnsiString SaveToString() const;
    void SaveToStream(TStream& stream) const;

private:
    friend struct TXmlTreeAccess;
    // Parses the bytes where they lie: the tree refers to them, so they must
    // outlive it and stay unchanged.
    void ParseInPlace(const char* data, size_t size);
    TXmlNode* NewNode(TXmlNode* parent);
    void DropTree(size_t nextInput);
    std::string_view input_;
};

// ---- Published properties -------------------------------------------------------

class TXmlPersistent;

enum class TPropKind : uint8_t {
    Integer,      // int32_t
    Char,         // char (8-bit character)
    WChar,        // char16_t
    Enumeration,  // enumerations and bool
    Float,        // double, TDateTime
    String,       // AnsiString, UTF-8
    WString,      // WideString
    Set,          // uint32_t bit mask over an enumeration
    Int64,        // int64_t
    // The kinds above are scalars, held in attributes; those below are not.
    Class,        // a sub-object, owned by its holder and never replaced
    Method,       // an event: never persisted
    Other,        // unsupported: every walk raises an assertion with TypeName
};

// Names of an enumeration's values, by ordinal.
struct TEnumInfo {
    TEnumInfo(const char* typeName, std::initializer_list<const char*> names);

    const char* TypeName;
    std::vector<const char*> Names;
    std::vector<std::string_view> NameViews;  // the same names with their lengths

    // Ordinal of the name matching without regard to ASCII case; -1 if none.
    int IndexOf(std::string_view name) const;
    const char* NameOf(int64_t ordinal) const;  // "" when out of range
};

namespace zo_detail {

// A published field, as a pointer to a member of TXmlPersistent with its type
// erased; the accessor that knows the type restores it before use.
using TFieldRef = const char TXmlPersistent::*;

// One accessor of a published property: code shared by every field of one
// type, with the field it serves. Called like the function it stands for;
// empty (false) when the property has no such access.
template <class R, class Obj, class... A>
class TFieldFn {
public:
    using TCode = R (*)(Obj&, TFieldRef, A...);
    TFieldFn() noexcept = default;
    TFieldFn(std::nullptr_t) noexcept {}
    TFieldFn(TCode code, TFieldRef field) noexcept : code_(code), field_(field) {}
    R operator()(Obj& object, A... args) const { return code_(object, field_, std::forward<A>(args)...); }
    explicit operator bool() const noexcept { return code_ != nullptr; }

private:
    TCode code_ = nullptr;
    TFieldRef field_ = nullptr;
};

}  // namespace zo_detail

// One published property: its name, kind and type-erased accessors. A missing
// getter means not readable, a missing setter not writable.
struct TPropInfo {
    template <class R, class Obj, class... A>
    using Fn = zo_detail::TFieldFn<R, Obj, A...>;
    using Obj = TXmlPersistent;
    const char* Name = "";
    uint16_t NameLength = 0;  // filled in by TClassInfo
    TPropKind Kind = TPropKind::Other;
    const char* TypeName = "";
    const TEnumInfo* Enum = nullptr;  // Enumeration and Set

    // Integer, Char, WChar, Enumeration, Set and Int64 go through int64_t.
    Fn<int64_t, const Obj> GetOrd;
    Fn<void, Obj, int64_t> SetOrd;
    Fn<double, const Obj> GetFloat;
    Fn<void, Obj, double> SetFloat;
    Fn<const AnsiString&, const Obj> GetStr;
    Fn<void, Obj, AnsiString&&> SetStr;
    Fn<const WideString&, const Obj> GetWStr;
    Fn<void, Obj, WideString&&> SetWStr;
    // The field itself, for a load that builds the text in place; null when not writable.
    Fn<WideString&, Obj> RefWStr;
    Fn<TXmlPersistent*, const Obj> GetObject;
    // A text added to a schema later: left out of the written form while empty,
    // so documents that do not use it keep their bytes.
    bool OmitWhenEmpty = false;

    bool Readable() const
    {
        return GetOrd || GetFloat || GetStr || GetWStr || GetObject;
    }
    bool Writable() const { return SetOrd || SetFloat || SetStr || SetWStr; }
    std::string_view NameView() const { return {Name, NameLength}; }
};

// Why an attribute's escaped text is no value of the property's type ("is not
// a Boolean: write True or False"); none when it is one. Stricter than a load,
// which keeps the default for a text that does not convert.
std::optional<std::string> XmlValueProblem(const TPropInfo& p, std::string_view text);

// A class's name, ancestor, own published properties and virtual constructor.
class TClassInfo {
public:
    using TFactory = std::unique_ptr<TXmlPersistent> (*)();
    TClassInfo(const char* name, const TClassInfo* parent, std::initializer_list<TPropInfo> ownProps, TFactory factory,
               bool loadsByWalk = false);
    TClassInfo(const TClassInfo&) = delete;
    TClassInfo& operator=(const TClassInfo&) = delete;

    const char* Name() const { return name_; }
    const TClassInfo* Parent() const { return parent_; }
    // Ancestors' properties first, then the class's own, in declaration order.
    const std::vector<TPropInfo>& Properties() const { return props_; }
    // By name, without regard to ASCII case; null if none.
    const TPropInfo* FindProperty(std::string_view name) const;
    // No two properties share a name (without regard to ASCII case).
    bool DistinctNames() const { return distinctNames_; }
    bool InheritsFrom(const TClassInfo& other) const;
    // A new object of this class; null for an abstract class.
    std::unique_ptr<TXmlPersistent> Create() const { return factory_ ? factory_() : nullptr; }
    // An object of exactly this class loads by the inherited walks alone (the
    // class overrides no LoadFromNode of its own), so a stream load may read
    // the document straight into it.
    bool LoadsByWalk(const TXmlPersistent& object) const;

private:
    const void* ExactTable() const;

    const char* name_;
    const TClassInfo* parent_;
    std::vector<TPropInfo> props_;
    TFactory factory_;
    // The table of virtual functions of this exact class, read off an object the
    // factory made when first asked; kNoTable for a class without a factory.
    mutable std::atomic<const void*> exactTable_{nullptr};
    bool loadsByWalk_;
    bool distinctNames_ = true;
};

// In the class body: the class's own property table and its virtual accessor.
#define ZO_PERSISTENT_CLASS(Name)                                      \
public:                                                                \
    static const TClassInfo& StaticClassInfo();                        \
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

// A function-local constant built on first use and never destroyed: no
// exit-time registration, nor its code, per object; what it holds goes with
// the process. The arguments after the name are the parenthesised or braced
// initializer.
#define ZO_LASTING(Type, name, ...)                                           \
    alignas(Type) static unsigned char name##Storage[sizeof(Type)];          \
    static const Type& name = *::new (static_cast<void*>(name##Storage)) Type __VA_ARGS__

// In the unit: the published properties in declaration order, e.g.
//   ZO_PUBLISHED(TSetupRun, TBaseSetupItem,
//       ZO_PROP(TSetupRun, FileName), ZO_PROP(TSetupRun, Wait))
#define ZO_PUBLISHED(Name, ParentName, ...)                                          \
    const TClassInfo& Name::StaticClassInfo()                                         \
    {                                                                                 \
        ZO_LASTING(TClassInfo, info, (#Name, &ParentName::StaticClassInfo(), {__VA_ARGS__}, \
            []() -> std::unique_ptr<TXmlPersistent> { return std::make_unique<Name>(); }, \
            ::zo_detail::LoadsByWalk<Name>()));                                       \
        return info;                                                                  \
    }
// The same for a class that cannot be created (its list factory is abstract).
#define ZO_PUBLISHED_ABSTRACT(Name, ParentName, ...)                                          \
    const TClassInfo& Name::StaticClassInfo()                                                 \
    {                                                                                         \
        ZO_LASTING(TClassInfo, info, (#Name, &ParentName::StaticClassInfo(), {__VA_ARGS__}, nullptr)); \
        return info;                                                                            \
    }

// Enumeration names for ZO_PROP, declared once per enumeration type:
//   ZO_ENUM_NAMES(TRegValueType, "rvtString", "rvtDWord");
template <class E>
struct TEnumNames;  // specialised by ZO_ENUM_NAMES: static const TEnumInfo& Info()
#define ZO_ENUM_NAMES(Type, ...)                                      \
    template <>                                                       \
    struct TEnumNames<Type> {                                         \
        static const TEnumInfo& Info()                                \
        {                                                             \
            ZO_LASTING(TEnumInfo, info, {#Type, {__VA_ARGS__}});      \
            return info;                                              \
        }                                                             \
    }
const TEnumInfo& BooleanEnumInfo();  // "False", "True"

namespace zo_detail {

template <class T>
struct IsOwnedObject : std::false_type {};
template <class T>
struct IsOwnedObject<std::unique_ptr<T>> : std::true_type {};

// The field of type T that ref names, in the object.
template <class T>
const T& FieldOf(const TXmlPersistent& object, TFieldRef ref)
{
    return object.*reinterpret_cast<const T TXmlPersistent::*>(ref);
}
template <class T>
T& FieldOf(TXmlPersistent& object, TFieldRef ref)
{
    return object.*const_cast<T TXmlPersistent::*>(reinterpret_cast<const T TXmlPersistent::*>(ref));
}

// A member of C (TXmlPersistent or a class derived from it) as a field of any
// object of C's kind.
template <class C, class T>
TFieldRef FieldRefOf(T C::*member)
{
    static_assert(std::is_base_of_v<TXmlPersistent, C>, "a published field belongs to a persistent class");
    using U = std::remove_const_t<T>;
    return reinterpret_cast<TFieldRef>(static_cast<const U TXmlPersistent::*>(member));
}

template <class T>
int64_t GetOrdOf(const TXmlPersistent& o, TFieldRef f)
{
    const T& v = FieldOf<T>(o, f);
    if constexpr (std::is_same_v<T, bool>) return v ? 1 : 0;
    else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, char16_t>)
        return static_cast<int64_t>(static_cast<std::make_unsigned_t<T>>(v));
    else return static_cast<int64_t>(v);
}
template <class T>
void SetOrdOf(TXmlPersistent& o, TFieldRef f, int64_t v)
{
    if constexpr (std::is_same_v<T, bool>) FieldOf<T>(o, f) = v != 0;
    else FieldOf<T>(o, f) = static_cast<T>(v);
}
template <class T>
TXmlPersistent* GetObjectOf(const TXmlPersistent& o, TFieldRef f)
{
    return FieldOf<std::unique_ptr<T>>(o, f).get();
}

// The kinds' descriptions, built out of line so that a class's table costs a
// call per property.
TPropInfo MakeWStrProp(const char* name, TFieldRef field);
TPropInfo MakeStrProp(const char* name, TFieldRef field);
TPropInfo MakeFloatProp(const char* name, TFieldRef field);
TPropInfo MakeOrdProp(const char* name, TPropKind kind, const char* typeName, const TEnumInfo* info,
                      int64_t (*get)(const TXmlPersistent&, TFieldRef),
                      void (*set)(TXmlPersistent&, TFieldRef, int64_t), TFieldRef field);
TPropInfo MakeObjectProp(const char* name, TXmlPersistent* (*get)(const TXmlPersistent&, TFieldRef), TFieldRef field);

template <class C, class T>
TPropInfo MakeProp(const char* name, T C::*member)
{
    using U = std::remove_const_t<T>;
    TFieldRef f = FieldRefOf(member);
    if constexpr (IsOwnedObject<U>::value) {
        return MakeObjectProp(name, &GetObjectOf<typename U::element_type>, f);
    } else if constexpr (std::is_same_v<U, WideString>) {
        return MakeWStrProp(name, f);
    } else if constexpr (std::is_same_v<U, AnsiString>) {
        return MakeStrProp(name, f);
    } else if constexpr (std::is_same_v<U, double>) {
        return MakeFloatProp(name, f);
    } else if constexpr (std::is_same_v<U, bool>) {
        return MakeOrdProp(name, TPropKind::Enumeration, "Boolean", &BooleanEnumInfo(), &GetOrdOf<U>, &SetOrdOf<U>, f);
    } else if constexpr (std::is_enum_v<U>) {
        const TEnumInfo& info = TEnumNames<U>::Info();
        return MakeOrdProp(name, TPropKind::Enumeration, info.TypeName, &info, &GetOrdOf<U>, &SetOrdOf<U>, f);
    } else if constexpr (std::is_same_v<U, char>) {
        return MakeOrdProp(name, TPropKind::Char, "AnsiChar", nullptr, &GetOrdOf<U>, &SetOrdOf<U>, f);
    } else if constexpr (std::is_same_v<U, char16_t>) {
        return MakeOrdProp(name, TPropKind::WChar, "WideChar", nullptr, &GetOrdOf<U>, &SetOrdOf<U>, f);
    } else if constexpr (std::is_same_v<U, int32_t>) {
        return MakeOrdProp(name, TPropKind::Integer, "Integer", nullptr, &GetOrdOf<U>, &SetOrdOf<U>, f);
    } else if constexpr (std::is_same_v<U, int64_t>) {
        return MakeOrdProp(name, TPropKind::Int64, "Int64", nullptr, &GetOrdOf<U>, &SetOrdOf<U>, f);
    } else {
        static_assert(sizeof(U) == 0, "no published-property kind for this field type");
    }
}

// A set: a uint32_t field whose bit n stands for the enumeration value n.
template <class C>
TPropInfo MakeSetProp(const char* name, uint32_t C::*member, const TEnumInfo& info)
{
    return MakeOrdProp(name, TPropKind::Set, info.TypeName, &info, &GetOrdOf<uint32_t>, &SetOrdOf<uint32_t>,
                       FieldRefOf(member));
}

}  // namespace zo_detail

// A field published under its own name; the kind follows the field's type.
#define ZO_PROP(Class, Field) ::zo_detail::MakeProp(#Field, &Class::Field)
// A field published without a write accessor (saved, never loaded).
#define ZO_PROP_READONLY(Class, Field) \
    [] { TPropInfo p = ZO_PROP(Class, Field); p.SetOrd = nullptr; p.SetFloat = nullptr; \
         p.SetStr = nullptr; p.SetWStr = nullptr; p.RefWStr = nullptr; return p; }()
// A text property written only when it holds something.
#define ZO_PROP_OMIT_EMPTY(Class, Field) \
    [] { TPropInfo p = ZO_PROP(Class, Field); p.OmitWhenEmpty = true; return p; }()
#define ZO_SET_PROP(Class, Field, EnumInfo) ::zo_detail::MakeSetProp(#Field, &Class::Field, EnumInfo)

// ---- Persistent objects ---------------------------------------------------------

// Base of every configuration object: its published properties give XML and
// JSON persistence, copying and comparison. The context argument is handed
// unchanged to every nested load or save.
class TXmlPersistent {
public:
    TXmlPersistent() = default;
    virtual ~TXmlPersistent() = default;
    TXmlPersistent(const TXmlPersistent&) = delete;
    TXmlPersistent& operator=(const TXmlPersistent&) = delete;

    static const TClassInfo& StaticClassInfo();
    virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
    WideString ClassName() const;

    // Copying, comparing and saving are not virtual (a list is told apart by
    // its type), so a program that only reads carries none of their code.
    // Copies every property that the source publishes under the same name;
    // sub-objects are assigned, never replaced. A null source raises EConvertError.
    void Assign(const TXmlPersistent* source);
    void Assign(const TXmlPersistent& source) { Assign(&source); }
    // A new object of the same class, assigned from this one.
    std::unique_ptr<TXmlPersistent> Clone() const;
    template <class T>
    std::unique_ptr<T> CloneAs() const
    {
        return std::unique_ptr<T>(static_cast<T*>(Clone().release()));
    }
    // Saves the source as XML and loads this object from it.
    void AssignByXml(const TXmlPersistent& source);
    // Same class and every property equal (lists: also every item).
    bool IsEqual(const TXmlPersistent* other) const;

    // The JSON form is not virtual (a list's items are reached by a cast), so a
    // program that never reads or writes JSON carries no JSON code.
    void LoadFromJson(const TJsonObject& object, int context = 0);
    virtual void LoadFromFile(const WideString& fileName, int context = 0);
    virtual void LoadFromNode(const TXmlNode& node, int context = 0);
    // From the stream's position to its end; input without an element changes nothing.
    virtual void LoadFromStream(TStream& stream, int context = 0);
    void SaveToJson(TJsonObject& object, int context = 0) const;
    // Indented, non-ASCII characters escaped.
    void SaveToJsonFile(const WideString& fileName, int context = 0) const;
    // Creates the missing folders of the file's folder part.
    void SaveToFile(const WideString& fileName, int context = 0) const;
    void SaveToNode(TXmlNode& node, int context = 0) const;
    // A document whose root is named by the class, written at the stream's position.
    void SaveToStream(TStream& stream, int context = 0) const;
};

// A persistent list that owns its items, written as an "Items" element whose
// children are named by the items' classes.
class TXmlObjectList : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TXmlObjectList)
public:
    // A new item for an element or JSON member of that class name; null skips it.
    virtual std::unique_ptr<TXmlPersistent> CreateItem(const WideString& className) = 0;
    virtual void Clear() { items_.clear(); }
    bool IsEqualItems(const TXmlObjectList* other) const;

    int Count() const { return static_cast<int>(items_.size()); }
    // A negative index counts from the end; out of range raises EListError.
    TXmlPersistent* Items(int index) const;
    // Takes ownership; returns the item.
    TXmlPersistent* Add(std::unique_ptr<TXmlPersistent> item);
    void Delete(int index);

    // The object's forms of these extended by the items; the object's own
    // call these for a list.
    void Assign(const TXmlPersistent* source);
    using TXmlPersistent::Assign;
    bool IsEqual(const TXmlPersistent* other) const;
    void LoadFromNode(const TXmlNode& node, int context = 0) override;
    void SaveToNode(TXmlNode& node, int context = 0) const;

protected:
    friend struct TXmlTreeAccess;
    friend class TXmlPersistent;  // the JSON form's items
    void LoadItemsFromJson(const TJsonObject& object, int context);
    void SaveItemsToJson(TJsonObject& object, int context) const;
    // The class every item must have; null accepts any. Assign converts items
    // of other classes through CreateItem and Assign instead of cloning them.
    virtual const TClassInfo* ItemClass() const { return nullptr; }

    std::vector<std::unique_ptr<TXmlPersistent>> items_;
};

// A list whose items are all of class T: CreateItem makes a T whatever the
// class name, Items is typed, and range-for visits T*.
template <class T>
class TXmlTypedList : public TXmlObjectList {
public:
    std::unique_ptr<TXmlPersistent> CreateItem(const WideString&) override { return std::make_unique<T>(); }
    T* Items(int index) const { return static_cast<T*>(TXmlObjectList::Items(index)); }
    T* Add(std::unique_ptr<T> item) { return static_cast<T*>(TXmlObjectList::Add(std::move(item))); }
    T* Add() { return Add(std::make_unique<T>()); }

    class iterator {
    public:
        using Inner = std::vector<std::unique_ptr<TXmlPersistent>>::const_iterator;
        explicit iterator(Inner it) : it_(it) {}
        T* operator*() const { return static_cast<T*>(it_->get()); }
        iterator& operator++() { ++it_; return *this; }
        bool operator==(const iterator& other) const { return it_ == other.it_; }
        bool operator!=(const iterator& other) const { return it_ != other.it_; }

    private:
        Inner it_;
    };
    iterator begin() const { return iterator(items_.begin()); }
    iterator end() const { return iterator(items_.end()); }

protected:
    const TClassInfo* ItemClass() const override { return &T::StaticClassInfo(); }
};

// The address of an object's table of virtual functions, which the object holds
// first: every object of one class, and only those, share it (the programs are
// built without run-time type information, so this is how an exact class is told).
inline const void* VirtualTableOf(const TXmlPersistent& object)
{
    const void* table;
    std::memcpy(&table, static_cast<const void*>(&object), sizeof table);
    return table;
}

// The object as a list, or null: a class whose table descends from the list's is one.
inline const TXmlObjectList* AsList(const TXmlPersistent& object)
{
    return object.ClassInfo().InheritsFrom(TXmlObjectList::StaticClassInfo())
               ? static_cast<const TXmlObjectList*>(&object) : nullptr;
}
inline TXmlObjectList* AsList(TXmlPersistent& object)
{
    return const_cast<TXmlObjectList*>(AsList(std::as_const(object)));
}

inline bool TClassInfo::LoadsByWalk(const TXmlPersistent& object) const
{
    // A class that publishes no table of its own reports its ancestor's, so the
    // object must be of exactly this class.
    return loadsByWalk_ && VirtualTableOf(object) == ExactTable();
}

namespace zo_detail {

// The class C declares no LoadFromNode of its own: the one it has is the
// object's or the list's walk.
template <class C>
constexpr bool LoadsByWalk()
{
    using F = decltype(&C::LoadFromNode);
    return std::is_same_v<F, void (TXmlPersistent::*)(const TXmlNode&, int)> ||
           std::is_same_v<F, void (TXmlObjectList::*)(const TXmlNode&, int)>;
}

}  // namespace zo_detail
