// Basic types shared by every unit: wide and 8-bit strings, the error classes
// and the assertion convention.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

using WideString = std::u16string;  // UTF-16, the text of the whole system
using AnsiString = std::string;     // 8-bit text: UTF-8 or the system code page, as named
using TBytes = std::vector<uint8_t>;

// One copy of the string classes' code for the whole program (ZoTypes.cpp):
// without this each unit compiles its own copy, and its own specialised
// clones, of every member it uses.
extern template class std::basic_string<char16_t>;
extern template class std::basic_string<char>;
// Constructors from a C string are member templates, which the class's
// instantiation leaves out: each unit made its own private copy of them.
extern template std::basic_string<char16_t>::basic_string(const char16_t*, const std::allocator<char16_t>&);
extern template std::basic_string<char>::basic_string(const char*, const std::allocator<char>&);
// The byte vector likewise (its sized constructor was copied into five units);
// the vector of strings is better left to each unit (measured: larger).
extern template class std::vector<uint8_t>;

// An error that carries its message text (UTF-16); what() gives it as UTF-8.
class Exception : public std::exception {
public:
    explicit Exception(WideString message);
    ~Exception() override;  // out of line: one copy, with the class's table
    const WideString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    WideString message_;
    std::string utf8_;
};

// Text of an error for a person: the message of ours, what() otherwise. Called
// in the handler of `error`, where it can tell our exceptions from others.
WideString ErrorText(const std::exception& error);
// `error`, the exception being handled, is a std::bad_alloc.
bool IsOutOfMemory(const std::exception& error);
// What ErrorText says when memory ran out, in the program's language (set
// with the language; until then the library's own words).
void SetOutOfMemoryText(const char16_t* text);

#define ZO_DECLARE_ERROR(Name, Base)                         \
    class Name : public Base {                               \
    public:                                                  \
        using Base::Base;                                    \
    }

ZO_DECLARE_ERROR(EAssertionFailed, Exception);
ZO_DECLARE_ERROR(EConvertError, Exception);
ZO_DECLARE_ERROR(EStreamError, Exception);
ZO_DECLARE_ERROR(EReadError, EStreamError);
ZO_DECLARE_ERROR(EFCreateError, EStreamError);
ZO_DECLARE_ERROR(EFOpenError, EStreamError);
ZO_DECLARE_ERROR(EResNotFound, Exception);
ZO_DECLARE_ERROR(EOSError, Exception);
ZO_DECLARE_ERROR(EInOutError, Exception);
ZO_DECLARE_ERROR(ECompressionError, Exception);
ZO_DECLARE_ERROR(EDecompressionError, Exception);
ZO_DECLARE_ERROR(EPackageError, Exception);

// Raises EAssertionFailed with "%s (%s, line %d)": the check's text, the unit
// path (for example "Common/ZoXmlUtils") and the line.
[[noreturn]] void AssertFailure(const WideString& text, const char* unit, int line);

#define ZO_ASSERT(cond, unit)                                            \
    do {                                                                 \
        if (!(cond)) ::AssertFailure(u"Assertion failure", unit, __LINE__); \
    } while (0)
#define ZO_ASSERT_MSG(cond, text, unit)                    \
    do {                                                   \
        if (!(cond)) ::AssertFailure(text, unit, __LINE__); \
    } while (0)
