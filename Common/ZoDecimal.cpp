// Exact decimal conversions over a small unsigned big integer: a double is
// m * 2^e, so its decimal digits are those of m * 2^e or m * 5^-e, and a decimal
// d * 10^k is rounded by dividing d * 5^k by 5^-k to 64 bits plus a sticky bit.
#include "ZoDecimal.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <vector>

namespace ZoDecimal {

namespace {

class TBig {
public:
    explicit TBig(uint64_t v = 0)
    {
        for (; v; v >>= 32) w_.push_back(static_cast<uint32_t>(v));
    }
    bool Zero() const { return w_.empty(); }
    int Bits() const { return w_.empty() ? 0 : static_cast<int>(w_.size() - 1) * 32 + std::bit_width(w_.back()); }

    void Mul(uint32_t m)
    {
        uint64_t carry = 0;
        for (auto& x : w_) {
            uint64_t t = uint64_t{x} * m + carry;
            x = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        if (carry) w_.push_back(static_cast<uint32_t>(carry));
    }
    void Add(uint32_t a)
    {
        for (size_t i = 0; a && i < w_.size(); ++i) {
            uint64_t t = uint64_t{w_[i]} + a;
            w_[i] = static_cast<uint32_t>(t);
            a = static_cast<uint32_t>(t >> 32);
        }
        if (a) w_.push_back(a);
    }
    void MulPow5(int n)
    {
        for (; n >= 13; n -= 13) Mul(1220703125u);  // 5^13, the largest power in 32 bits
        uint32_t p = 1;
        while (n-- > 0) p *= 5;
        Mul(p);
    }
    void Shl(int bits)
    {
        if (Zero() || bits <= 0) return;
        int b = bits % 32;
        if (b) {
            uint32_t carry = 0;
            for (auto& x : w_) {
                uint32_t next = x >> (32 - b);
                x = (x << b) | carry;
                carry = next;
            }
            if (carry) w_.push_back(carry);
        }
        w_.insert(w_.begin(), static_cast<size_t>(bits / 32), 0u);
    }
    void Shr1()
    {
        for (size_t i = 0; i < w_.size(); ++i) w_[i] = (w_[i] >> 1) | (i + 1 < w_.size() ? w_[i + 1] << 31 : 0);
        Trim();
    }
    // Divides by d, giving the remainder.
    uint32_t Div(uint32_t d)
    {
        uint64_t r = 0;
        for (size_t i = w_.size(); i-- > 0;) {
            uint64_t cur = (r << 32) | w_[i];
            w_[i] = static_cast<uint32_t>(cur / d);
            r = cur % d;
        }
        Trim();
        return static_cast<uint32_t>(r);
    }
    int Compare(const TBig& o) const
    {
        if (w_.size() != o.w_.size()) return w_.size() < o.w_.size() ? -1 : 1;
        for (size_t i = w_.size(); i-- > 0;)
            if (w_[i] != o.w_[i]) return w_[i] < o.w_[i] ? -1 : 1;
        return 0;
    }
    void Sub(const TBig& o)  // o <= *this
    {
        uint64_t borrow = 0;
        for (size_t i = 0; i < w_.size(); ++i) {
            uint64_t t = uint64_t{w_[i]} - (i < o.w_.size() ? o.w_[i] : 0) - borrow;
            w_[i] = static_cast<uint32_t>(t);
            borrow = (t >> 32) & 1;
        }
        Trim();
    }
    std::string DecimalText() const
    {
        if (Zero()) return "0";
        TBig n = *this;
        std::string reversed;
        while (!n.Zero()) {
            uint32_t chunk = n.Div(1000000000u);
            for (int i = 0; i < 9; ++i, chunk /= 10) reversed += static_cast<char>('0' + chunk % 10);
        }
        while (reversed.size() > 1 && reversed.back() == '0') reversed.pop_back();
        return std::string(reversed.rbegin(), reversed.rend());
    }

private:
    void Trim()
    {
        while (!w_.empty() && w_.back() == 0) w_.pop_back();
    }
    std::vector<uint32_t> w_;  // least significant word first, no zero word on top
};

// Any two neighbouring doubles' midpoint has at most 767 significant digits, so a
// longer text decides the same as its first 800 digits with a sticky 1 after them.
constexpr size_t kMaxDigits = 800;

}  // namespace

std::string SignificantDigits(double value, int count, int& exponent10)
{
    int e = 0;
    double f = std::frexp(std::fabs(value), &e);
    auto m = static_cast<uint64_t>(std::ldexp(f, 53));  // |value| = m * 2^(e - 53), exactly
    e -= 53;
    TBig n(m);
    int scale = 0;
    if (e >= 0) {
        n.Shl(e);
    } else {
        n.MulPow5(-e);
        scale = e;
    }
    std::string digits = n.DecimalText();
    exponent10 = static_cast<int>(digits.size()) - 1 + scale;
    auto want = static_cast<size_t>(count);
    if (digits.size() <= want) return digits + std::string(want - digits.size(), '0');
    bool up = digits[want] > '5' ||
              (digits[want] == '5' &&
               (digits.find_first_not_of('0', want + 1) != std::string::npos || (digits[want - 1] - '0') % 2 == 1));
    digits.resize(want);
    if (up) {
        size_t i = want;
        while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            digits.pop_back();
            ++exponent10;
        } else {
            ++digits[i - 1];
        }
    }
    return digits;
}

std::optional<double> Parse(const std::string& text)
{
    size_t i = 0, n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::string digits;  // significant digits, without leading zeros
    long long point = 0;   // digits before the decimal point, counted from the first kept one
    bool anyDigit = false, sticky = false;
    auto take = [&](char c, bool beforePoint) {
        anyDigit = true;
        if (digits.empty() && c == '0') {
            if (!beforePoint) --point;
            return;
        }
        if (digits.size() < kMaxDigits) digits += c;
        else sticky = sticky || c != '0';
        if (beforePoint) ++point;
    };
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) take(text[i], true);
    if (i < n && text[i] == '.')
        for (++i; i < n && text[i] >= '0' && text[i] <= '9'; ++i) take(text[i], false);
    if (!anyDigit) return std::nullopt;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) negExp = text[i++] == '-';
        if (i >= n || text[i] < '0' || text[i] > '9') return std::nullopt;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
            if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
        if (negExp) exponent = -exponent;
    }
    if (i != n) return std::nullopt;
    if (digits.empty()) return negative ? -0.0 : 0.0;
    // The value is 0.digits * 10^(point + exponent).
    long long first = point + exponent - 1;  // the power of ten of the first digit
    if (first > DBL_MAX_10_EXP || first < DBL_MIN_10_EXP - 2) return std::nullopt;
    if (sticky) digits += '1';
    while (digits.back() == '0') digits.pop_back();
    auto k = static_cast<int>(point + exponent - static_cast<long long>(digits.size()));  // value = digits * 10^k

    double result;
    if (digits.size() <= 15 && k >= -22 && k <= 22) {
        // Both operands exact, so the one operation rounds correctly.
        static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        uint64_t whole = 0;
        for (char c : digits) whole = whole * 10 + static_cast<uint64_t>(c - '0');
        double d = static_cast<double>(whole);
        result = k >= 0 ? d * kPow10[k] : d / kPow10[-k];
    } else {
        TBig num, den(1);
        for (char c : digits) {
            num.Mul(10);
            num.Add(static_cast<uint32_t>(c - '0'));
        }
        if (k >= 0) num.MulPow5(k);
        else den.MulPow5(-k);
        // value = num / den * 2^k; scale num / den into [2^62, 2^64).
        int s = den.Bits() - num.Bits() + 63;
        if (s > 0) num.Shl(s);
        else den.Shl(-s);
        den.Shl(63);
        uint64_t q = 0;
        for (int bit = 63; bit >= 0; --bit, den.Shr1()) {
            if (num.Compare(den) >= 0) {
                num.Sub(den);
                q |= uint64_t{1} << bit;
            }
        }
        bool rest = !num.Zero();
        // value = q * 2^(k - s); keep the bits down to the double's last place there
        // (below the least normal double that place stays at 2^-1074).
        int low = k - s, lead = std::bit_width(q) - 1 + low;
        int shift = std::max(lead - (DBL_MANT_DIG - 1), DBL_MIN_EXP - DBL_MANT_DIG) - low;
        if (shift >= 64) return std::nullopt;  // below half the least subnormal
        uint64_t mant = q >> shift, dropped = q & ((uint64_t{1} << shift) - 1), half = uint64_t{1} << (shift - 1);
        if (dropped > half || (dropped == half && (rest || (mant & 1)))) ++mant;
        result = std::ldexp(static_cast<double>(mant), low + shift);  // exact; too large gives infinity
    }
    if (!std::isfinite(result) || result < DBL_MIN) return std::nullopt;
    return negative ? -result : result;
}

std::string Hex(uint32_t value, int width)
{
    std::string s;
    do {
        s.insert(s.begin(), "0123456789ABCDEF"[value % 16]);
        value /= 16;
    } while (value);
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
    return s;
}

std::string Padded(uint32_t value, int width)
{
    std::string s = std::to_string(static_cast<long long>(value));  // the one to_string the programs link
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
    return s;
}

}  // namespace ZoDecimal
