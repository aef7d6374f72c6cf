// Decimal text of numbers without the C library's printf and strtod, which are
// some 40 KB of each Windows program for a handful of calls. Results are exact:
// the same text and the same doubles as a correctly rounding C library gives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ZoDecimal {

// The first `count` significant digits of |value| (finite, not zero), rounded to
// nearest with ties to even, as printf rounds; exponent10 is the power of ten of
// the first digit (1234.5 -> "12345", 3).
std::string SignificantDigits(double value, int count, int& exponent10);

// A decimal number as strtod reads it: [+-]digits[.digits][(e|E)[+-]digits], the
// whole text, rounded to the nearest double (ties to even). Nothing for any other
// text and for a value out of the normal range (overflow, or a nonzero value
// below the least normal double).
std::optional<double> Parse(const std::string& text);

// Upper-case hexadecimal and decimal digits, zero-padded to at least `width`.
std::string Hex(uint32_t value, int width);
std::string Padded(uint32_t value, int width);

}  // namespace ZoDecimal
