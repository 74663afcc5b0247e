#include "driver/volcomp/bns/BnsCompMap.h"

#include <locale.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <QString>

#include "driver/volcomp/DataFile.h"
#include "driver/volcomp/bns/BnsCipher.h"
#include "driver/volcomp/bns/BnsKeyMaterial.h"

using namespace bns;

struct BnsCompMap::Data {
    int flags = 0;
    int type = 0;
    int points = kDefaultPoints;
    int rotaryPoints = 0;
    bool rotary = false;
    std::array<double, 4> start{};
    std::array<double, 4> step{};
    double option = 0.0;
    std::array<double, kHeaderExtraValues> header{};
    double tables[kTableCount][kMaxPoints] = {};
    double extraTables[kExtraTableCount][kMaxPoints] = {};
    double rotaryTables[kRotaryTableCount][kMaxRotaryPoints] = {};
};

namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Numbers in the files are written with a decimal point whatever the host's locale is.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

// Reads a number the way "%lf" does: white space skipped, then the longest number. Returns
// the characters used, 0 when there is no number. text must be NUL-terminated.
std::size_t ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = strtod_l(text, &end, CLocale());
    return end == text ? 0 : std::size_t(end - text);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One source of map values, in file order. Next fails with the reason in `error`; an empty
// reason means the data ended.
class ValueSource {
  public:
    virtual ~ValueSource() = default;
    virtual bool Next(double& value, std::string& error) = 0;
};

// Text: the flags, already read from the first line, then white-space separated numbers
// after that line.
class TextValues : public ValueSource {
  public:
    TextValues(double flags, const std::string& text, std::size_t offset)
        : flags_(flags), text_(text), offset_(offset) {}

    bool Next(double& value, std::string& error) override {
        if (!flagsUsed_) {
            flagsUsed_ = true;
            value = flags_;
            return true;
        }
        while (offset_ < text_.size() && IsSpace(text_[offset_]))
            ++offset_;
        if (offset_ >= text_.size())
            return false;
        const std::size_t used = ParseNumber(text_.c_str() + offset_, value);
        if (used == 0) {
            error = "\"" + text_.substr(offset_, 12) + "\" is not a number";
            return false;
        }
        offset_ += used;
        return true;
    }

  private:
    double flags_;
    bool flagsUsed_ = false;
    const std::string& text_;
    std::size_t offset_;
};

// Binary: 8-byte little-endian doubles.
class BinaryValues : public ValueSource {
  public:
    explicit BinaryValues(std::string_view bytes) : bytes_(bytes) {}

    bool Next(double& value, std::string&) override {
        if (bytes_.size() - offset_ < sizeof(double))
            return false;
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = (bits << 8) | static_cast<unsigned char>(bytes_[offset_ + std::size_t(i)]);
        value = std::bit_cast<double>(bits);
        offset_ += sizeof(double);
        return true;
    }

  private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Enciphered: one value per line, an even number of hexadecimal digits and the line end;
// the bytes decrypt to the text of the number. A carriage return before the line end is
// part of the line end (maps written on Windows).
class EncipheredValues : public ValueSource {
  public:
    EncipheredValues(std::string_view bytes, const BnsCipher& key) : bytes_(bytes), key_(key) {}

    bool Next(double& value, std::string& error) override {
        if (offset_ >= bytes_.size())
            return false;
        ++lineNumber_;
        const std::size_t newline = bytes_.find('\n', offset_);
        const bool hasEnd = newline != std::string_view::npos;
        std::string_view digits =
            bytes_.substr(offset_, hasEnd ? newline - offset_ : std::string_view::npos);
        offset_ = hasEnd ? newline + 1 : bytes_.size();
        if (hasEnd && !digits.empty() && digits.back() == '\r')
            digits.remove_suffix(1);

        const std::string where = "line " + std::to_string(lineNumber_);
        const std::size_t length = digits.size() + (hasEnd ? 1 : 0);
        const std::size_t limit = lineNumber_ == 1 ? kMaxFirstEncipheredLine : kMaxEncipheredLine;
        if (length > limit) {
            error = where + " is longer than " + std::to_string(limit) + " characters";
            return false;
        }
        // An odd length with the line end means whole byte pairs.
        if (length % 2 == 0) {
            error = where + " does not hold whole hexadecimal byte pairs and a line end";
            return false;
        }
        std::vector<unsigned char> cipherText;
        for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
            const int high = HexDigit(digits[i]);
            const int low = HexDigit(digits[i + 1]);
            if (high < 0 || low < 0) {
                error = where + " is not hexadecimal";
                return false;
            }
            cipherText.push_back(static_cast<unsigned char>(high * 16 + low));
        }
        const auto plain = key_.Decrypt(cipherText);
        if (!plain) {
            error = where + " does not decrypt with the file key";
            return false;
        }
        const std::string text(plain->begin(), plain->end());  // cut at a NUL by c_str()
        if (ParseNumber(text.c_str(), value) == 0) {
            error = where + " does not decrypt to a number";
            return false;
        }
        return true;
    }

  private:
    std::string_view bytes_;
    const BnsCipher& key_;
    std::size_t offset_ = 0;
    int lineNumber_ = 0;
};

// Reads the values of a map in file order into data.
class MapParser {
  public:
    MapParser(ValueSource& source, BnsCompMap::Data& data) : source_(source), data_(data) {}

    bool Parse(std::string& error) {
        double flags = 0.0;
        if (!Read(flags, "flags", error))
            return false;
        if (!(flags > -2147483649.0 && flags < 2147483648.0)) {
            error = "the flags value " + Number(flags) + " is not a whole number";
            return false;
        }
        data_.flags = static_cast<int>(flags);
        data_.type = data_.flags & kMachineTypeMask;
        data_.rotary = (data_.flags & kFlagRotaryData) != 0;
        const bool extended = (data_.flags & kFlagExtendedHeader) != 0;

        data_.points = kDefaultPoints;
        data_.rotaryPoints = 0;
        if (extended) {
            double points = 0.0;
            double rotaryPoints = 0.0;
            if (!Read(points, "points per table", error) ||
                !Read(rotaryPoints, "rotary points", error))
                return false;
            // The tables have fixed capacities; a larger count would write past them.
            if (!(points >= kMinPoints && points < kMaxPoints + 1)) {
                error = "the map declares " + Number(points) +
                        " points per table; a table holds 2 to 200";
                return false;
            }
            if (!(rotaryPoints >= 0 && rotaryPoints < kMaxRotaryPoints + 1)) {
                error = "the map declares " + Number(rotaryPoints) +
                        " rotary points; a rotary table holds at most 180";
                return false;
            }
            data_.points = static_cast<int>(points);
            data_.rotaryPoints = static_cast<int>(rotaryPoints);
        }

        static constexpr const char* kStartNames[] = {"start X", "start Y", "start Z", "start W"};
        static constexpr const char* kStepNames[] = {"step X", "step Y", "step Z", "step W"};
        for (int axis = 0; axis < 3; ++axis)
            if (!ReadFinite(data_.start[axis], kStartNames[axis], error))
                return false;
        if (extended && !ReadFinite(data_.start[3], kStartNames[3], error))
            return false;
        for (int axis = 0; axis < 3; ++axis)
            if (!ReadFinite(data_.step[axis], kStepNames[axis], error))
                return false;
        if (extended && !ReadFinite(data_.step[3], kStepNames[3], error))
            return false;
        if (extended && !Read(data_.option, "option value", error))
            return false;
        for (double& value : data_.header)
            if (!Read(value, "header value", error))
                return false;

        for (int t = 0; t < kTableCount; ++t)
            if (!ReadTable(data_.tables[t], data_.points, "table", t, error))
                return false;
        if (data_.type == kTypeThree)
            for (int t = 0; t < kExtraTableCount; ++t)
                if (!ReadTable(data_.extraTables[t], data_.points, "extra table", t, error))
                    return false;
        for (int t = 0; t < kRotaryTableCount; ++t)
            if (!ReadTable(data_.rotaryTables[t], data_.rotaryPoints, "rotary table", t, error))
                return false;
        if (!extended && !Read(data_.option, "option value", error))
            return false;
        if (data_.rotaryPoints == 0)
            data_.rotary = false;
        return true;
    }

  private:
    // Reads the next value; `what` names it in the error text.
    bool Read(double& value, const char* what, std::string& error) {
        return ReadValue(value, false, error, [what] { return std::string(what); });
    }
    bool ReadFinite(double& value, const char* what, std::string& error) {
        return ReadValue(value, true, error, [what] { return std::string(what); });
    }

    bool ReadTable(double* table, int count, const char* kind, int number, std::string& error) {
        for (int i = 0; i < count; ++i) {
            // Only a failure pays for the description.
            if (!ReadValue(table[i], true, error, [kind, number, i] {
                    return std::string(kind) + " " + std::to_string(number) + ", point " +
                           std::to_string(i);
                }))
                return false;
        }
        return true;
    }

    template <typename Describe>
    bool ReadValue(double& value, bool finite, std::string& error, Describe describe) {
        ++index_;
        std::string reason;
        if (!source_.Next(value, reason)) {
            error = (reason.empty() ? std::string("the data end") : reason) + " at value " +
                    std::to_string(index_) + " (" + describe() + ")";
            return false;
        }
        if (finite && !std::isfinite(value)) {
            error = "value " + std::to_string(index_) + " (" + describe() + ") is not finite";
            return false;
        }
        return true;
    }

    ValueSource& source_;
    BnsCompMap::Data& data_;
    int index_ = 0;
};

// File names arrive as wide text; the file system takes UTF-8 whatever the C locale is.
std::filesystem::path NativePath(const std::wstring& name) {
    return std::filesystem::path(QString::fromStdWString(name).toStdString());
}

enum class FileRead { kOk, kCannotOpen, kFailed };

FileRead ReadWholeFile(const std::filesystem::path& path, std::string& bytes, std::string& error) {
    const QString name = QString::fromStdString(path.string());
    QFile file;
    switch (OpenDataFile(name, file)) {
        case DataFileOpen::kMissing:
            error = "cannot open " + path.string();
            return FileRead::kCannotOpen;
        case DataFileOpen::kNotRegular:
            error = QString::fromStdWString(NotRegularFileText(name)).toStdString();
            return FileRead::kFailed;
        case DataFileOpen::kOpened:
            break;
    }
    const qint64 size = file.size();
    if (size > qint64(kMaxFileBytes)) {
        error = path.string() + " is too large for a compensation map";
        return FileRead::kFailed;
    }
    bytes.resize(std::size_t(size));
    if (file.read(bytes.data(), size) != size) {
        error = "cannot read " + path.string();
        return FileRead::kFailed;
    }
    return FileRead::kOk;
}

}  // namespace

BnsCompMap::BnsCompMap() : data_(std::make_unique<Data>()) {}

BnsCompMap::~BnsCompMap() = default;

void BnsCompMap::SetSources(bool readEnciphered, bool allowFallback) {
    readEnciphered_ = readEnciphered;
    allowFallback_ = allowFallback;
}

int BnsCompMap::Load(const std::wstring& fileName) {
    const std::wstring plain = fileName.empty() ? kPlainFileName : fileName;
    lastError_.clear();
    if (readEnciphered_) {
        const auto slash = plain.rfind(L'/');
        const std::wstring folder = slash == std::wstring::npos ? L"" : plain.substr(0, slash + 1);
        const int result = LoadEncipheredFile(folder + kEncipheredFileName);
        if (result != kNotLoaded || !allowFallback_)
            return result;
    }
    const std::string encipheredError = lastError_;
    const int result = LoadPlainFile(plain);
    if (!encipheredError.empty())
        lastError_ = encipheredError + (lastError_.empty() ? "" : "; " + lastError_);
    return result;
}

int BnsCompMap::LoadPlainFile(const std::wstring& name) {
    fileName_ = name;
    const std::filesystem::path path = NativePath(name);
    std::string bytes;
    std::string error;
    if (ReadWholeFile(path, bytes, error) != FileRead::kOk) {
        lastError_ = error;
        return kNotLoaded;
    }
    if (!ReadPlain(bytes)) {
        lastError_ = path.string() + ": " + lastError_;
        return kNotLoaded;
    }
    return kLoaded;
}

int BnsCompMap::LoadEncipheredFile(const std::wstring& name) {
    fileName_ = name;
    const std::filesystem::path path = NativePath(name);
    std::string bytes;
    std::string error;
    switch (ReadWholeFile(path, bytes, error)) {
        case FileRead::kCannotOpen:
            lastError_ = error;
            return kEncipheredMissing;
        case FileRead::kFailed:
            lastError_ = error;
            return kNotLoaded;
        case FileRead::kOk:
            break;
    }
    // The key objects live only for this read.
    auto material = BnsKeyMaterial::ForFolder(path.parent_path(), &error);
    std::optional<BnsCipher> key;
    if (material)
        key = material->FileKey(&error);
    if (!key) {
        lastError_ = path.string() + ": no file key: " + error;
        return kNotLoaded;
    }
    if (!ReadEnciphered(bytes, *key)) {
        // A wrong key shows as lines that do not decrypt; say whose key it was.
        lastError_ =
            path.string() + ": " + lastError_ + " (key material: " + material->origin + ")";
        return kNotLoaded;
    }
    return kLoaded;
}

bool BnsCompMap::Commit(bool parsed, std::unique_ptr<Data> data, const std::string& error) {
    if (!parsed) {
        lastError_ = error;
        return false;
    }
    data_ = std::move(data);
    loaded_ = true;
    lastError_.clear();
    return true;
}

bool BnsCompMap::ReadPlain(std::string_view bytes) {
    // A copy with a terminator, for number parsing.
    const std::string text(bytes);
    auto data = std::make_unique<Data>();
    std::string error;

    // The first line (as far as it goes within kFirstLineChars) decides: a number there
    // makes a text map, anything else (a binary double starts with NUL bytes) a binary one.
    std::size_t firstLine = std::min(text.size(), kFirstLineChars);
    if (const auto newline = text.find('\n'); newline < firstLine)
        firstLine = newline + 1;
    const std::string line = text.substr(0, firstLine);
    double flags = 0.0;
    if (ParseNumber(line.c_str(), flags) > 0) {
        TextValues source(flags, text, firstLine);
        const bool parsed = MapParser(source, *data).Parse(error);
        return Commit(parsed, std::move(data), error);
    }
    BinaryValues source(bytes);
    const bool parsed = MapParser(source, *data).Parse(error);
    return Commit(parsed, std::move(data), error);
}

bool BnsCompMap::ReadEnciphered(std::string_view bytes, const BnsCipher& fileKey) {
    auto data = std::make_unique<Data>();
    std::string error;
    EncipheredValues source(bytes, fileKey);
    const bool parsed = MapParser(source, *data).Parse(error);
    return Commit(parsed, std::move(data), error);
}

double BnsCompMap::Lookup(std::span<const double> table, int points, double start, double step,
                          double position) {
    double a = (position - start) / step;
    if (!(a >= 0.0))
        a = kBelowStartWeight;
    else if (a >= points - 1)
        a = points - 2;
    const int i = static_cast<int>(a);
    const double f = a - i;
    const double value =
        table[std::size_t(i)] + f * (table[std::size_t(i) + 1] - table[std::size_t(i)]);
    return std::fabs(value) < kZeroThreshold ? 0.0 : value;
}

void BnsCompMap::Correct(int mode, const double position[4], const double probe[3],
                         double result[4]) const {
    const double x = position[0];
    const double y = position[1];
    const double z = position[2];
    const double w = position[3];
    if (mode != kFromMachine && mode != kToMachine) {
        result[0] = x;
        result[1] = y;
        result[2] = z;
        result[3] = w;
        return;
    }
    const Data& d = *data_;
    const double Px = probe[0];
    const double Py = probe[1];
    const double Pz = probe[2];

    auto along = [&d](int table, int axis, double at) {
        return Lookup(std::span<const double>(d.tables[table], std::size_t(d.points)), d.points,
                      d.start[std::size_t(axis)], d.step[std::size_t(axis)], at);
    };
    // T[k] is table k at the position along its axis; tables 18 to 22 are sampled along Y
    // for type 1 and along Z for types 2 and 3, and are 0 for the others. The rotary tables
    // enter no error term and are not looked up.
    double T[kTableCount] = {};
    double E[kExtraTableCount] = {};
    for (int k = 0; k < 6; ++k) {
        T[k] = along(k, kX, x);
        T[6 + k] = along(6 + k, kY, y);
        T[12 + k] = along(12 + k, kZ, z);
    }
    const int type = d.type;
    for (int k = 18; k < kTableCount; ++k) {
        if (type == kTypeOne)
            T[k] = along(k, kY, y);
        else if (type == kTypeTwo || type == kTypeThree)
            T[k] = along(k, kZ, z);
    }
    if (type == kTypeThree)
        for (int k = 0; k < kExtraTableCount; ++k)
            E[k] = Lookup(std::span<const double>(d.extraTables[k], std::size_t(d.points)),
                          d.points, d.start[kX], d.step[kX], x);

    const double zP = z + Pz;
    const double yP = y + Py;
    double ex = 0.0;
    double ey = 0.0;
    double ez = 0.0;
    if (type == kTypeOne) {
        ex = T[0] - T[7] - x * T[18] - T[13] - zP * T[4] + Py * T[5] - (T[9] + x * T[22]) * zP +
             Py * T[11] - Pz * T[17] + Py * T[15];
        ey = T[6] + x * T[19] - T[14] - T[1] - T[11] * (Px + x) + (T[10] + x * T[21]) * zP -
             Px * T[15] + Pz * T[16] - Px * T[5] + zP * T[3];
        ez = T[12] - T[2] - T[8] - x * T[20] - Py * T[16] + Px * T[17] - Py * T[3] + Px * T[4] -
             Py * (T[10] + x * T[21]) + (T[9] + x * T[22]) * (Px + x);
    } else if (type == kTypeThree) {
        ex = T[0] + y * E[0] - T[7] - T[13] - y * T[18] - (T[4] + y * E[4]) * zP +
             yP * (T[5] + y * E[5]) - Pz * T[9] + Py * T[11] - Pz * (y * T[22] + T[17]) +
             yP * T[15];
        ey = T[6] - T[14] - y * T[19] - T[1] - y * E[1] - Px * T[11] + Pz * T[10] - Px * T[15] +
             Pz * (y * T[21] + T[16]) - Px * (T[5] + y * E[5]) + zP * (T[3] + y * E[3]);
        ez = y * T[20] + T[12] - T[2] - y * E[2] - T[8] + Px * (y * T[22] + T[17]) -
             yP * (y * T[21] + T[16]) - Py * T[10] + Px * T[9] - yP * (T[3] + y * E[3]) +
             Px * (T[4] + y * E[4]);
    } else if (type == kTypeEight || type == kTypeSixteen) {
        ex = T[0] - T[7] - T[13] - zP * T[4] + yP * T[5] - zP * T[9] + Py * T[11] - Pz * T[17] +
             Py * T[15];
        ey = T[6] - T[14] - T[1] - Px * T[11] + zP * T[10] - Px * T[15] + Pz * T[16] - Px * T[5] +
             zP * T[3];
        ez = T[12] - T[2] - T[8] - Py * T[16] + Px * T[17] - yP * T[3] + Px * T[4] - Py * T[10] +
             Px * T[9];
    } else {
        ex = T[0] - T[7] - T[13] - y * T[18] - zP * T[4] + yP * T[5] - Pz * T[9] + Py * T[11] -
             Pz * (y * T[22] + T[17]) + yP * T[15];
        ey = T[6] - T[14] - y * T[19] - T[1] - Px * T[11] + Pz * T[10] - Px * T[15] +
             Pz * (y * T[21] + T[16]) - Px * T[5] + zP * T[3];
        ez = y * T[20] + T[12] - T[2] - T[8] + Px * (y * T[22] + T[17]) - yP * (y * T[21] + T[16]) -
             Py * T[10] + Px * T[9] - yP * T[3] + Px * T[4];
    }
    const double sign = mode == kFromMachine ? -1.0 : 1.0;
    result[0] = x + sign * ex;
    result[1] = y + sign * ey;
    result[2] = z + sign * ez;
    result[3] = w;
}

bool BnsCompMap::HasData() const {
    static constexpr int kChecked[] = {0, 1, 3, 4, 5, 6, 7, 9, 10, 11};
    for (const int t : kChecked)
        for (int i = 0; i < data_->points; ++i)
            if (std::fabs(data_->tables[t][i]) > kDataThreshold)
                return true;
    return false;
}

int BnsCompMap::Flags() const {
    return data_->flags;
}
int BnsCompMap::Type() const {
    return data_->type;
}
int BnsCompMap::Points() const {
    return data_->points;
}
int BnsCompMap::RotaryPoints() const {
    return data_->rotaryPoints;
}
bool BnsCompMap::HasRotaryData() const {
    return data_->rotary;
}
double BnsCompMap::OptionValue() const {
    return data_->option;
}
double BnsCompMap::Start(Axis axis) const {
    return data_->start[axis];
}
double BnsCompMap::Step(Axis axis) const {
    return data_->step[axis];
}

std::array<double, kHeaderExtraValues> BnsCompMap::HeaderValues() const {
    return data_->header;
}

std::span<const double> BnsCompMap::Table(int index) const {
    return {data_->tables[index], std::size_t(data_->points)};
}

std::span<const double> BnsCompMap::ExtraTable(int index) const {
    return {data_->extraTables[index], std::size_t(data_->type == kTypeThree ? data_->points : 0)};
}

std::span<const double> BnsCompMap::RotaryTable(int index) const {
    return {data_->rotaryTables[index], std::size_t(data_->rotaryPoints)};
}
