#include "driver/comm/parser/FormatScanner.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <climits>
#include <cstdio>

namespace {

constexpr int kEnd = EOF;

// Character classes of the "C" locale, independent of the process locale.
bool IsSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}
bool IsXDigit(int c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int Lower(int c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

bool IsConversionLetter(char c) {
    switch (c) {
        case 'c':
        case 'C':
        case 's':
        case 'S':
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G':
        case 'd':
        case 'i':
        case 'n':
        case 'o':
        case 'u':
        case 'x':
            return true;
        default:
            return false;
    }
}

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// The input as C's formatted input sees it: one character at a time, with the
// character just read pushed back when it ends a field.
class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}
    int Get() { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_++]) : kEnd; }
    void Unget(int c) {
        if (c != kEnd)
            --pos_;
    }
    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
    }
    std::size_t Consumed() const { return pos_; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Collects the characters of an integer field into `digits`, the way the C library
// does: optional sign, "0x" prefix (dropped) for base 16 and base 0, then digits of
// the base, never more than `width` characters (-1: no limit). `c` is the first
// character, already read. Returns false when no digit was found; `base` becomes
// the base the digits are in.
bool ReadInteger(Reader& in, int c, int width, int& base, std::string& digits) {
    if (c == '-' || c == '+') {
        digits += static_cast<char>(c);
        if (width > 0)
            --width;
        c = in.Get();
    }
    if (width != 0 && c == '0') {
        if (width > 0)
            --width;
        digits += '0';
        c = in.Get();
        if (width != 0 && Lower(c) == 'x') {
            if (base == 0)
                base = 16;
            if (base == 16) {
                if (width > 0)
                    --width;
                c = in.Get();
            }
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0)
        base = 10;
    while (c != kEnd && width != 0) {
        const bool fits = base == 16 ? IsXDigit(c) : IsDigit(c) && c - '0' < base;
        if (!fits)
            break;
        digits += static_cast<char>(c);
        if (width > 0)
            --width;
        c = in.Get();
    }
    in.Unget(c);
    return !(digits.empty() || (digits.size() == 1 && (digits[0] == '+' || digits[0] == '-')));
}

// Reads the expected letters of "nan" or "infinity" after the first one; false on
// a mismatch, the end of the input or the end of the field.
bool ReadWord(Reader& in, int& width, const char* rest, std::string& text) {
    for (; *rest; ++rest) {
        int c = 0;
        if (width == 0 || (c = in.Get()) == kEnd || Lower(c) != *rest)
            return false;
        if (width > 0)
            --width;
        text += static_cast<char>(c);
    }
    return true;
}

// Collects the characters of a floating field into `text`, as the C library does:
// sign, "nan", "inf"/"infinity", hexadecimal "0x..p..", decimal digits with one
// point and an exponent. `c` is the first character, already read. Returns false
// when the field holds no number.
bool ReadFloating(Reader& in, int c, int width, std::string& text) {
    if (width > 0)
        --width;
    bool gotDigit = false;
    bool gotDot = false;
    bool gotExponent = false;
    bool hexadecimal = false;
    const bool gotSign = c == '-' || c == '+';
    char exponentLetter = 'e';

    if (gotSign) {
        text += static_cast<char>(c);
        if (width == 0 || (c = in.Get()) == kEnd)
            return false;
        if (width > 0)
            --width;
    }
    if (Lower(c) == 'n') {
        text += static_cast<char>(c);
        return ReadWord(in, width, "an", text);
    }
    if (Lower(c) == 'i') {
        text += static_cast<char>(c);
        if (!ReadWord(in, width, "nf", text))
            return false;
        if (width != 0 && (c = in.Get()) != kEnd) {
            if (Lower(c) != 'i') {
                in.Unget(c);
                return true;
            }
            if (width > 0)
                --width;
            text += static_cast<char>(c);
            return ReadWord(in, width, "nity", text);
        }
        return true;
    }
    if (width != 0 && c == '0') {
        text += '0';
        c = in.Get();
        if (width > 0)
            --width;
        if (width != 0 && Lower(c) == 'x') {
            text += static_cast<char>(c);
            hexadecimal = true;
            exponentLetter = 'p';
            c = in.Get();
            if (width > 0)
                --width;
        } else {
            gotDigit = true;
        }
    }
    for (;;) {
        if (IsDigit(c) || (!gotExponent && hexadecimal && IsXDigit(c))) {
            text += static_cast<char>(c);
            gotDigit = true;
        } else if (gotExponent && text.back() == exponentLetter && (c == '-' || c == '+')) {
            text += static_cast<char>(c);
        } else if (gotDigit && !gotExponent && Lower(c) == exponentLetter) {
            text += exponentLetter;
            gotExponent = gotDot = true;
        } else if (!gotDot && c == '.') {
            text += '.';
            gotDot = true;
        } else {
            in.Unget(c);
            break;
        }
        if (width == 0 || (c = in.Get()) == kEnd)
            break;
        if (width > 0)
            --width;
    }
    const std::size_t prefix = (gotSign ? 1 : 0) + (hexadecimal ? 2 : 0);
    return text.size() > prefix;
}

// Decimal fields in the common form take the fast, locale-free std::from_chars;
// from_chars and strtod both round correctly, so the result is the same.
template <typename T>
bool FastDecimal(const std::string& field, long double& out) {
    const char* first = field.data();
    const char* last = first + field.size();
    if (*first == '+')
        ++first;
    const char* digits = *first == '-' ? first + 1 : first;
    if (digits == last || !(IsDigit(*digits) || *digits == '.'))
        return false;
    if (digits + 1 < last && (digits[1] == 'x' || digits[1] == 'X'))
        return false;
    T value;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end == first)
        return false;  // out of range or no number: strtod decides
    out = value;
    return true;
}

// Converts a collected floating field to a value of `size` bytes; false when the
// field does not begin with a number.
bool ToReal(const std::string& field, int size, long double& out) {
    if (size == 4 && FastDecimal<float>(field, out))
        return true;
    if (size == 8 && FastDecimal<double>(field, out))
        return true;
    char* end = nullptr;
    if (size == 4)
        out = strtof_l(field.c_str(), &end, CLocale());
    else if (size == 8)
        out = strtod_l(field.c_str(), &end, CLocale());
    else
        out = strtold_l(field.c_str(), &end, CLocale());
    return end != field.c_str();
}

long long TruncateSigned(long long v, int size) {
    switch (size) {
        case 1:
            return static_cast<signed char>(v);
        case 2:
            return static_cast<short>(v);
        case 4:
            return static_cast<int>(v);
        default:
            return v;
    }
}

unsigned long long TruncateUnsigned(unsigned long long v, int size) {
    switch (size) {
        case 1:
            return static_cast<unsigned char>(v);
        case 2:
            return static_cast<unsigned short>(v);
        case 4:
            return static_cast<unsigned int>(v);
        default:
            return v;
    }
}

}  // namespace

FormatScanner::FormatScanner(std::string_view format) {
    Compile(format, directives_);
    for (const Directive& d : directives_) {
        if (d.kind == Directive::Kind::Conversion && !d.suppress)
            ++argumentCount_;
    }
    if (!directives_.empty()) {
        const Directive& last = directives_.back();
        if (last.kind == Directive::Kind::Conversion && !last.suppress)
            lastArgumentIndex_ = argumentCount_ - 1;
    }
}

void FormatScanner::Compile(std::string_view format, std::vector<Directive>& out) {
    if (auto zero = format.find('\0'); zero != std::string_view::npos)
        format = format.substr(0, zero);
    std::size_t i = 0;
    const std::size_t n = format.size();
    auto at = [&](std::size_t k) { return k < n ? format[k] : '\0'; };
    while (i < n) {
        Directive d;
        const char c = format[i];
        if (IsSpace(static_cast<unsigned char>(c))) {
            while (i < n && IsSpace(static_cast<unsigned char>(format[i])))
                ++i;
            d.kind = Directive::Kind::Space;
            out.push_back(d);
            continue;
        }
        ++i;
        if (c != '%') {
            d.kind = Directive::Kind::Literal;
            d.letter = c;
            out.push_back(d);
            continue;
        }
        if (at(i) == '%') {
            ++i;
            d.kind = Directive::Kind::Percent;
            out.push_back(d);
            continue;
        }
        if (at(i) == '*') {
            d.suppress = true;
            ++i;
        }
        if (IsDigit(at(i))) {
            long width = 0;
            while (IsDigit(at(i))) {
                width = width * 10 + (at(i) - '0');
                if (width > INT_MAX)
                    width = INT_MAX;
                ++i;
            }
            // A width of 0 means no limit, as in the C library.
            d.width = width == 0 ? -1 : static_cast<int>(width);
        }
        switch (at(i)) {
            case 'h':
                ++i;
                if (at(i) == 'h') {
                    ++i;
                    d.intSize = 1;
                } else {
                    d.intSize = 2;
                }
                break;
            case 'l':
                ++i;
                d.intSize = 8;
                if (at(i) == 'l') {
                    ++i;
                    d.floatSize = sizeof(long double);
                } else {
                    d.floatSize = 8;
                }
                break;
            case 'L':
            case 'q':
                ++i;
                d.intSize = 8;
                d.floatSize = sizeof(long double);
                break;
            case 'j':
            case 'z':
            case 't':
                ++i;
                d.intSize = 8;
                d.floatSize = 8;
                break;
            case 'I':  // sizes of the Windows run-time library: I (pointer), I32, I64
                ++i;
                if (at(i) == '3' && at(i + 1) == '2') {
                    i += 2;
                    d.intSize = 4;
                } else {
                    if (at(i) == '6' && at(i + 1) == '4')
                        i += 2;
                    d.intSize = sizeof(void*);
                    d.floatSize = 8;
                }
                break;
            default:
                break;
        }
        if (!IsConversionLetter(at(i))) {
            // Unknown or incomplete conversion: the scan stops here.
            d.kind = Directive::Kind::Invalid;
            out.push_back(d);
            return;
        }
        d.kind = Directive::Kind::Conversion;
        d.letter = format[i++];
        out.push_back(d);
    }
}

int FormatScanner::Scan(std::string_view input, std::vector<Value>& values) const {
    values.clear();
    if (auto zero = input.find('\0'); zero != std::string_view::npos)
        input = input.substr(0, zero);
    Reader in(input);
    int done = 0;
    std::string field;
    auto inputFailure = [&] { return done == 0 ? -1 : done; };

    for (const Directive& d : directives_) {
        switch (d.kind) {
            case Directive::Kind::Space:
                in.SkipSpace();
                continue;
            case Directive::Kind::Percent:
                in.SkipSpace();
                [[fallthrough]];
            case Directive::Kind::Literal: {
                const int want =
                    d.kind == Directive::Kind::Percent ? '%' : static_cast<unsigned char>(d.letter);
                const int c = in.Get();
                if (c == kEnd)
                    return inputFailure();
                if (c != want) {
                    in.Unget(c);
                    return done;
                }
                continue;
            }
            case Directive::Kind::Invalid:
                return done;
            case Directive::Kind::Conversion:
                break;
        }

        Value v;
        switch (d.letter) {
            case 'n':
                if (!d.suppress) {
                    v.size = d.intSize;
                    v.counted = false;
                    v.sint = TruncateSigned(static_cast<long long>(in.Consumed()), d.intSize);
                    values.push_back(std::move(v));
                }
                continue;
            case 'c':
            case 'C': {
                int width = d.width < 0 ? 1 : d.width;
                int c = in.Get();
                if (c == kEnd)
                    return inputFailure();
                do
                    v.text += static_cast<char>(c);
                while (--width > 0 && (c = in.Get()) != kEnd);
                break;
            }
            case 's':
            case 'S': {
                in.SkipSpace();
                int width = d.width;
                int c = in.Get();
                if (c == kEnd)
                    return inputFailure();
                do {
                    if (IsSpace(c)) {
                        in.Unget(c);
                        break;
                    }
                    v.text += static_cast<char>(c);
                } while ((width <= 0 || --width > 0) && (c = in.Get()) != kEnd);
                v.terminated = true;
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G': {
                in.SkipSpace();
                const int c = in.Get();
                if (c == kEnd)
                    return inputFailure();
                field.clear();
                if (!ReadFloating(in, c, d.width, field))
                    return done;
                if (!ToReal(field, d.floatSize, v.real))
                    return done;
                v.type = Value::Type::Floating;
                v.size = d.floatSize;
                break;
            }
            default: {  // d i o u x
                in.SkipSpace();
                const int c = in.Get();
                if (c == kEnd)
                    return inputFailure();
                int base = d.letter == 'd' || d.letter == 'u' ? 10
                           : d.letter == 'o'                  ? 8
                           : d.letter == 'x'                  ? 16
                                                              : 0;
                field.clear();
                if (!ReadInteger(in, c, d.width, base, field))
                    return done;
                v.size = d.intSize;
                if (d.letter == 'd' || d.letter == 'i') {
                    v.sint = TruncateSigned(std::strtol(field.c_str(), nullptr, base), d.intSize);
                } else {
                    v.type = Value::Type::Unsigned;
                    v.uint =
                        TruncateUnsigned(std::strtoul(field.c_str(), nullptr, base), d.intSize);
                }
                break;
            }
        }
        if (d.letter == 'c' || d.letter == 'C' || d.letter == 's' || d.letter == 'S')
            v.type = Value::Type::Text;
        if (!d.suppress) {
            values.push_back(std::move(v));
            ++done;
        }
    }
    return done;
}
