#pragma once
// FormatScanner: C formatted input ("sscanf") over one scan format, without the
// variadic destinations.
//
// Reply formats come from a machine file that anyone can edit, so the parser cannot
// hand them to the C library with a fixed argument list: a format with more, fewer
// or differently typed conversions than expected would write past or into the wrong
// objects. FormatScanner reads the input exactly as C's sscanf does for the
// conversions reply formats use, but returns each stored value as a typed Value; the
// caller decides where (and whether) a value goes.
//
// Supported directives: white space, ordinary characters, "%%", and conversions
// "%[*][width][size]letter" with the letters c C s S e E f g G d i n o u x and the
// sizes hh h l ll L q j z t I I32 I64. Wide conversions (C, S, lc, ls) read bytes
// like their narrow forms. Any other directive ends the scan, as an unknown
// conversion does in C. Numbers are read in the "C" locale whatever the process
// locale is, since reply texts never follow the user's locale.
//
// A scanner is immutable after construction; Scan may be called from any thread.

#include <string>
#include <string_view>
#include <vector>

class FormatScanner {
  public:
    // One value stored by a conversion.
    struct Value {
        enum class Type : unsigned char { Signed, Unsigned, Floating, Text };
        Type type = Type::Signed;
        // Bytes of the C object the conversion stores: 1, 2, 4 or 8 for integers,
        // 4, 8 or sizeof(long double) for floating values; unused for text.
        unsigned char size = 4;
        // False for %n, which stores without counting towards the scan's result.
        bool counted = true;
        // %s stores a terminating zero after its characters, %c does not.
        bool terminated = false;
        long long sint = 0;
        unsigned long long uint = 0;
        long double real = 0;  // exact for float and double results as well
        std::string text;
    };

    explicit FormatScanner(std::string_view format);

    // Scans `input` (which, like a C string, ends at its first zero byte). Fills
    // `values` with the stored values in format order and returns what sscanf
    // returns: the number of counted values, or -1 when the input ended before the
    // first of them.
    int Scan(std::string_view input, std::vector<Value>& values) const;

    // Number of conversions that store a value (the arguments sscanf would take).
    int ArgumentCount() const { return argumentCount_; }
    // Position among the stored values of the format's last directive, or -1 when the
    // format does not end in a conversion that stores a value.
    int LastArgumentIndex() const { return lastArgumentIndex_; }

  private:
    struct Directive {
        enum class Kind : unsigned char { Space, Literal, Percent, Conversion, Invalid };
        Kind kind = Kind::Invalid;
        char letter = 0;  // the literal character or the conversion letter
        bool suppress = false;
        int width = -1;               // -1: no limit
        unsigned char intSize = 4;    // bytes of an integer result
        unsigned char floatSize = 4;  // bytes of a floating result
    };

    static void Compile(std::string_view format, std::vector<Directive>& out);

    std::vector<Directive> directives_;
    int argumentCount_ = 0;
    int lastArgumentIndex_ = -1;
};
