#include "driver/comm/parser/XYZParser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "driver/core/CPoint3.h"

namespace {

using Value = FormatScanner::Value;

// Codes that end a complete position reply of the position server (its line
// format: docs/reply-formats.md).
constexpr std::string_view kCompleteCodes[] = {"235", "621", "627"};

// Formats this short cannot describe a reply.
constexpr std::size_t kShortestFormat = 6;

constexpr const char kTooManyOneValueFormats[] = "too many one-value formats (at most 8)";

// Machine files are 8-bit text; characters the code page cannot hold become '?'.
std::string ToAnsi(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out += (c >= 0 && c <= 0xFF) ? static_cast<char>(c) : '?';
    return out;
}

// Reply-format list: quoted strings; backslashes are kept for the format and make
// the next character (a quote included) part of the string.
bool ReadReplyFormatList(const std::string& text, std::vector<std::string>& list) {
    bool inString = false;
    bool escaped = false;
    std::string current;
    for (char c : text) {
        const bool afterBackslash = escaped;
        escaped = false;
        if (c == '\\') {
            current += c;
            escaped = true;
        } else if (c == '"') {
            if (!inString) {
                inString = true;
            } else if (afterBackslash) {
                current += c;
            } else {
                list.push_back(current);
                current.clear();
                inString = false;
            }
        } else if (inString) {
            current += c;
        }
    }
    return !inString && !escaped;
}

// Command list: quoted strings; \n and \r give line feed and carriage return, an
// escaped quote is dropped and any other escaped character c gives the byte c - '0'.
bool ReadCommandList(const std::string& text, std::vector<std::string>& list) {
    bool inString = false;
    bool escaped = false;
    std::string current;
    for (char c : text) {
        if (escaped) {
            escaped = false;
            if (inString) {
                if (c == 'n')
                    current += '\n';
                else if (c == 'r')
                    current += '\r';
                else if (c != '"')
                    current += static_cast<char>(static_cast<unsigned char>(c) - '0');
                continue;
            }
        } else if (c == '\\') {
            escaped = true;
            continue;
        }
        if (c == '"') {
            if (!inString) {
                inString = true;
            } else {
                list.push_back(current);
                current.clear();
                inString = false;
            }
        } else if (inString) {
            current += c;
        }
    }
    return !inString && !escaped;
}

// Typed assignment of scanned values. A value always arrives converted to its
// destination's type, whatever conversion the format used (see
// docs/reply-formats.md, "Values of the wrong type").
double ToDouble(const Value& v) {
    switch (v.type) {
        case Value::Type::Signed:
            return static_cast<double>(v.sint);
        case Value::Type::Unsigned:
            return static_cast<double>(v.uint);
        case Value::Type::Floating:
            return static_cast<double>(v.real);
        case Value::Type::Text:
            break;
    }
    return v.text.empty() ? 0.0 : static_cast<unsigned char>(v.text[0]);
}

int ToInt(const Value& v) {
    switch (v.type) {
        case Value::Type::Signed:
            return static_cast<int>(v.sint);  // keeps the low 32 bits, as C does
        case Value::Type::Unsigned:
            return static_cast<int>(v.uint);
        case Value::Type::Floating: {
            const long double r = std::trunc(v.real);
            if (std::isnan(r))
                return 0;
            if (r <= std::numeric_limits<int>::min())
                return std::numeric_limits<int>::min();
            if (r >= std::numeric_limits<int>::max())
                return std::numeric_limits<int>::max();
            return static_cast<int>(r);
        }
        case Value::Type::Text:
            break;
    }
    return v.text.empty() ? 0 : static_cast<unsigned char>(v.text[0]);
}

template <typename T>
void CopyBytes(std::array<char, 256>& slot, T value) {
    std::memcpy(slot.data(), &value, sizeof value);
}

// Text as characters (with a zero after %s text), numbers as the bytes of their C
// object; the last byte of the slot always stays zero.
void StoreInSlot(const Value& v, std::array<char, 256>& slot) {
    switch (v.type) {
        case Value::Type::Text: {
            const std::size_t n = std::min(v.text.size(), slot.size() - 1);
            std::memcpy(slot.data(), v.text.data(), n);
            if (v.terminated)
                slot[n] = '\0';
            break;
        }
        case Value::Type::Signed:
        case Value::Type::Unsigned: {
            const unsigned long long bits =
                v.type == Value::Type::Signed ? static_cast<unsigned long long>(v.sint) : v.uint;
            switch (v.size) {
                case 1:
                    CopyBytes(slot, static_cast<unsigned char>(bits));
                    break;
                case 2:
                    CopyBytes(slot, static_cast<unsigned short>(bits));
                    break;
                case 4:
                    CopyBytes(slot, static_cast<unsigned int>(bits));
                    break;
                default:
                    CopyBytes(slot, bits);
                    break;
            }
            break;
        }
        case Value::Type::Floating:
            if (v.size == 4)
                CopyBytes(slot, static_cast<float>(v.real));
            else if (v.size == 8)
                CopyBytes(slot, static_cast<double>(v.real));
            else
                CopyBytes(slot, v.real);
            break;
    }
    slot.back() = '\0';
}

// W and the fourth vector component are angles in [0, 360): negative ones are
// brought up by whole turns.
double WrapAngle(double w) {
    if (w < 0.0) {
        // fmod rather than adding turns one at a time: a huge or infinite angle
        // must not stall the driver.
        w = std::fmod(w, 360.0);
        if (w < 0.0)
            w += 360.0;
        else if (w == 0.0)
            w = 0.0;  // a whole number of turns: no negative zero
    }
    return w;
}

}  // namespace

XYZParser::PreparedFormat XYZParser::Prepare(const std::string& format) {
    PreparedFormat p;
    p.text = format;
    FormatStringParser analysed;
    try {
        analysed.Parse(format);
    } catch (const FormatStringParserException& e) {
        p.error = e;
        return p;
    }
    p.valueCount = analysed.GetValueCount();
    p.valueClass = analysed.GetValueClass();
    p.newline = analysed.HasNewline();
    p.scanFormat = analysed.GetScanFormat();
    p.trailingLiteral = analysed.GetTrailingLiteral();
    p.scanner.emplace(p.scanFormat);
    const auto d = p.scanFormat.find("%d");
    const auto lf = p.scanFormat.find("%lf");
    p.hasD = d != std::string::npos;
    p.mixed = lf != std::string::npos && (d == std::string::npos || lf > d);
    if (!p.trailingLiteral.empty())
        p.trailingWordIndex = p.scanner->LastArgumentIndex();
    p.lineCount = analysed.GetLineCount();
    return p;
}

void XYZParser::Parse(const std::string& message) {
    try {
        ParseMessage(message);
    } catch (...) {
        // A failing configuration must not let unfinished reply text pile up.
        ClearAccumulated();
        throw;
    }
}

void XYZParser::ClearAccumulated() {
    accumulated_.clear();
    lineStarts_.clear();
}

void XYZParser::AppendMessage(const std::string& message) {
    // Text that grew past one message's worth never completed; start again from
    // the new message rather than scanning stale lines.
    if (accumulated_.size() + message.size() > kMaxAccumulatedText)
        ClearAccumulated();
    const std::size_t start = accumulated_.size();
    accumulated_.append(message, 0, kMaxAccumulatedText);
    if (message.find_first_not_of(" \t\r\n\v\f") != std::string::npos)
        lineStarts_.push_back(start);
    // More lines than any format can use: the oldest cannot belong to the reply that
    // is arriving (a stray line, or the rest of a reply cut short). Dropping it lets
    // the next complete reply parse instead of every later scan failing on it.
    while (lineStarts_.size() > maxLines_) {
        const std::size_t cut = lineStarts_[1];
        accumulated_.erase(0, cut);
        lineStarts_.erase(lineStarts_.begin());
        for (std::size_t& at : lineStarts_)
            at -= cut;
    }
}

void XYZParser::RejectNonFinite() {
    position_ = {0.0, 0.0, 0.0, 0.0};
    vector_ = {0.0, 0.0, 1.0, 0.0};
    status_ = 0;
    hit_ = complete_ = hasVector_ = false;
    throw XYZParserException(kNotFinite);
}

double& XYZParser::BlockElement(std::size_t n) {
    return n < position_.size() ? position_[n] : vector_[n - position_.size()];
}

bool XYZParser::WordMatches(const PreparedFormat& f) const {
    const std::string_view word(slot_.data(), ::strnlen(slot_.data(), slot_.size()));
    return word == f.trailingLiteral;
}

int XYZParser::ScanInto(const PreparedFormat& f, std::initializer_list<Destination> destinations) {
    const int result = f.scanner->Scan(accumulated_, values_);
    const std::size_t count = destinations.size();
    int stored = 0;
    for (std::size_t k = 0; k < values_.size(); ++k) {
        const Value& v = values_[k];
        if (k < count) {
            // nan, inf and numbers beyond a double ("1e999") are no measurement.
            if (v.type == Value::Type::Floating && !std::isfinite(static_cast<double>(v.real)))
                RejectNonFinite();
            const Destination& d = destinations.begin()[k];
            if (d.real)
                *d.real = ToDouble(v);
            else
                *d.integer = ToInt(v);
        } else if (k == count || static_cast<int>(k) == f.trailingWordIndex) {
            StoreInSlot(v, slot_);
        } else {
            continue;  // more conversions than the case has places for
        }
        if (v.counted)
            ++stored;
    }
    return result < 0 ? result : stored;
}

int XYZParser::ScanFloating(const PreparedFormat& f, std::size_t index, bool hitAllowed) {
    auto& [x, y, z, w] = position_;
    auto& [i, j, k, v4] = vector_;
    const Destination X{&x}, Y{&y}, Z{&z}, W{&w}, I{&i}, J{&j}, K{&k};
    const Destination S{nullptr, &status_};
    int r = 0;
    switch (f.valueCount) {
        case 1:
            if (index >= kValueBlockSize)
                throw XYZParserException(kTooManyOneValueFormats);
            return ScanInto(f, {Destination{&BlockElement(index)}});
        case 3:
            r = ScanInto(f, {X, Y, Z});
            hit_ = r >= 3 && hitAllowed && WordMatches(f);
            return r;
        case 4:
            r = ScanInto(f, {S, X, Y, Z});
            hit_ = r == 4 && status_ != 0 && WordMatches(f);
            return r;
        case 5:
            return ScanInto(f, {X, Y, Z, W});
        case 6:
            r = ScanInto(f, {X, Y, Z, I, J, K});
            hit_ = r >= 3 && hitAllowed && WordMatches(f);
            return r;
        case 7:
            r = ScanInto(f, {S, X, Y, Z, I, J, K});
            hit_ = r == 7 && status_ != 0 && WordMatches(f);
            return r;
        case 8:
            r = ScanInto(f, {X, Y, Z, W, I, J, K});
            hit_ = r >= 4 && hitAllowed && WordMatches(f);
            return r;
        default:
            throw XYZParserException("number of floats parsed bad");
    }
}

int XYZParser::ScanInteger(const PreparedFormat& f, bool hitAllowed, bool& direct) {
    auto& [x, y, z, w] = position_;
    auto& [i, j, k, v4] = vector_;
    const Destination X{&x}, Y{&y}, Z{&z}, W{&w}, I{&i}, J{&j}, K{&k};
    const Destination S{nullptr, &status_};
    const Destination A1{nullptr, &a_[0]}, A2{nullptr, &a_[1]}, A3{nullptr, &a_[2]};
    const Destination B1{nullptr, &b_[0]}, B2{nullptr, &b_[1]}, B3{nullptr, &b_[2]};
    a_[0] = a_[1] = a_[2] = 0;
    b_[0] = b_[1] = 0;
    b_[2] = 1;

    // Cases that store straight into X, Y, Z (and I, J, K) set the direct flag;
    // the others leave integers in the staging values.
    bool setsDirect = true;
    int r = 0;
    switch (f.valueCount) {
        case 3:
            setsDirect = false;
            r = ScanInto(f, {A1, A2, A3});
            hit_ = r >= 3 && hitAllowed && WordMatches(f);
            break;
        case 4:
            if (f.mixed) {
                r = ScanInto(f, {X, Y, Z});
                hit_ = r == 4 && hitAllowed;
            } else {
                setsDirect = false;
                r = ScanInto(f, {S, A1, A2, A3});
                hit_ = r == 4 && status_ != 0 && WordMatches(f);
            }
            break;
        case 5:
            if (!f.hasD) {
                r = ScanInto(f, {X, Y, Z, W});
            } else {
                r = ScanInto(f, {S, X, Y, Z});
                hit_ = r >= 3 && hitAllowed;
            }
            break;
        case 6:
            setsDirect = false;
            r = ScanInto(f, {A1, A2, A3, B1, B2, B3});
            hit_ = r >= 3 && hitAllowed && WordMatches(f);
            break;
        case 7:
            if (f.mixed) {
                r = ScanInto(f, {X, Y, Z, I, J, K});
                hit_ = r == 7 && hitAllowed;
            } else {
                setsDirect = false;
                r = ScanInto(f, {S, A1, A2, A3, B1, B2, B3});
                hit_ = r == 7 && status_ != 0 && WordMatches(f);
            }
            break;
        case 8:
            r = ScanInto(f, {X, Y, Z, W, I, J, K});
            hit_ = r == 8 && hitAllowed;
            break;
        default:
            throw XYZParserException("number of integers parsed bad");
    }
    if (setsDirect) {
        direct = true;
    } else if (!direct) {
        x = a_[0];
        y = a_[1];
        z = a_[2];
        i = b_[0];
        j = b_[1];
        k = b_[2];
    }
    return r;
}

void XYZParser::ParseMessage(const std::string& message) {
    if (message.empty())
        throw XYZParserException("input string empty");
    AppendMessage(message);

    position_ = {0.0, 0.0, 0.0, 0.0};
    vector_ = {0.0, 0.0, 1.0, 0.0};
    status_ = 0;
    hit_ = complete_ = hasVector_ = false;
    slot_.fill('\0');
    bool direct = false;

    if (replyFormats_.empty())
        throw XYZParserException("format string list empty");

    int r = 0;
    const PreparedFormat* last = nullptr;
    for (std::size_t n = 0; n < replyFormats_.size() && !hit_; ++n) {
        const PreparedFormat& f = replyFormats_[n];
        if (f.text.empty())
            throw XYZParserException("format string empty");
        if (f.text.size() <= kShortestFormat)
            throw XYZParserException("format string too short");
        if (f.error)
            throw *f.error;
        last = &f;
        // With several formats the last one is the position format: it reports hits
        // only through a status value.
        const bool hitAllowed = !(replyFormats_.size() >= 2 && n == replyFormats_.size() - 1);
        // The slot is shared by the formats tried on this message: a word an earlier
        // format read stays until a later one stores there.
        if (f.valueClass == FormatStringParser::kFloating)
            r = ScanFloating(f, n, hitAllowed);
        else
            r = ScanInteger(f, hitAllowed, direct);
    }

    auto& [x, y, z, w] = position_;
    auto& [i, j, k, v4] = vector_;
    if (r >= 3) {
        ClearAccumulated();
        if (direct) {
            const std::string_view code(slot_.data(), ::strnlen(slot_.data(), slot_.size()));
            complete_ = std::find(std::begin(kCompleteCodes), std::end(kCompleteCodes), code) !=
                        std::end(kCompleteCodes);
        } else {
            complete_ = WordMatches(*last);
        }
        hasVector_ = r >= 6;
    } else if (accumulated_.size() < kMaxAccumulatedText) {
        // Too few values: keep the text for the next line of a multi-line reply.
        accumulated_ += ' ';
    }

    if (hasVector_) {
        if (vectorDivide_) {
            i /= x;
            j /= y;
            k /= z;
        }
    } else if (complete_ && previousValid_ && replyFormats_.size() > 1) {
        // No vector in the reply: the probe came from the previous position.
        const CPoint3 approach =
            CPoint3(previous_[0], previous_[1], previous_[2]) - CPoint3(x, y, z);
        i = approach.x();
        j = approach.y();
        k = approach.z();
    }
    if (complete_) {
        previous_ = position_;
        previousValid_ = true;
    }
    if (reverseVector_) {
        i = -i;
        j = -j;
        k = -k;
    }

    x /= scales_[0];
    y /= scales_[1];
    z /= scales_[2];
    w /= scales_[3];
    const double toMillimetres = 25.4 / unitFactor_;
    x /= toMillimetres;
    y /= toMillimetres;
    z /= toMillimetres;

    const double length = std::hypot(i, j, k);
    if (length == 0.0 || !std::isfinite(length)) {
        // No usable direction: point along +Z.
        i = j = 0.0;
        k = 1.0;
    } else {
        i /= length;
        j /= length;
        k /= length;
    }

    w = WrapAngle(w);
    v4 = WrapAngle(v4);

    if (!last->newline)
        ClearAccumulated();
}

void XYZParser::SetScale(double s) {
    scales_ = {s, s, s, 1.0};
}

void XYZParser::SetScales(double sx, double sy, double sz, double sw) {
    scales_ = {sx, sy, sz, sw};
}

void XYZParser::SetUnitFactor(double u) {
    unitFactor_ = u;
}

void XYZParser::SetVectorDivide(int flag) {
    vectorDivide_ = flag != 0;
}

void XYZParser::SetReverseVector(int flag) {
    reverseVector_ = flag != 0;
}

std::array<double, 4> XYZParser::GetParsedPosition() const {
    return position_;
}

std::array<double, 4> XYZParser::GetParsedVector() const {
    return vector_;
}

int XYZParser::GetStatus() const {
    return status_;
}

bool XYZParser::IsHit() const {
    return hit_;
}

bool XYZParser::IsComplete() const {
    return complete_;
}

bool XYZParser::HasVector() const {
    return hasVector_;
}

bool XYZParser::HasMultipleFormats() const {
    return manyValues_ || replyFormats_.size() > 1;
}

void XYZParser::SetPositionCommands(const std::wstring& text) {
    SetPositionCommands(ToAnsi(text));
}

void XYZParser::SetPositionCommands(const std::string& text) {
    positionCommands_.clear();
    if (!ReadCommandList(text, positionCommands_))
        throw XYZParserException("Format string not terminated");
}

void XYZParser::SetInitSequence(const std::wstring& text) {
    SetInitSequence(ToAnsi(text));
}

void XYZParser::SetInitSequence(const std::string& text) {
    initSequence_.clear();
    if (!ReadCommandList(text, initSequence_))
        throw XYZParserException("Format string not terminated");
}

bool XYZParser::IsCommandListEmpty() const {
    return initSequence_.empty() && (positionCommands_.empty() || positionCommands_[0].empty());
}

void XYZParser::SetReplyFormats(const std::wstring& text) {
    SetReplyFormats(ToAnsi(text));
}

void XYZParser::SetReplyFormats(const std::string& text) {
    if (text.size() < kShortestFormat)
        throw XYZParserException("Format string too small");
    std::vector<std::string> list;
    const bool terminated = ReadReplyFormatList(text, list);
    replyFormats_.clear();
    manyValues_ = false;
    maxLines_ = 1;
    ClearAccumulated();
    for (const std::string& format : list) {
        replyFormats_.push_back(Prepare(format));
        maxLines_ = std::max(maxLines_, std::size_t(replyFormats_.back().lineCount));
    }
    if (!terminated)
        throw XYZParserException("Format string not terminated");
    // A list without any quoted format is kept empty; Parse reports it.
    if (replyFormats_.empty())
        return;
    if (replyFormats_[0].error)
        throw *replyFormats_[0].error;
    manyValues_ = replyFormats_[0].valueCount > 5;
    for (std::size_t n = kValueBlockSize; n < replyFormats_.size(); ++n) {
        const PreparedFormat& f = replyFormats_[n];
        if (f.text.size() > kShortestFormat && !f.error &&
            f.valueClass == FormatStringParser::kFloating && f.valueCount == 1)
            throw XYZParserException(kTooManyOneValueFormats);
    }
}

std::vector<std::string> XYZParser::GetReplyFormats() const {
    std::vector<std::string> out;
    for (const PreparedFormat& f : replyFormats_)
        out.push_back(f.text);
    return out;
}
