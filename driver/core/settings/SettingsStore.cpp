#include "driver/core/settings/SettingsStore.h"

#include <atomic>
#include <cstring>
#include <string_view>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/log/WideFormat.h"
#include "driver/core/CPoint3.h"
#include "driver/core/settings/SettingText.h"
#include "host/QlnServices.h"
#include "setvault/Setvault.h"

namespace {

constexpr std::size_t kValueChars = 64;
constexpr wchar_t kAxisLetters[3] = {L'X', L'Y', L'Z'};

std::wstring sectionText(const wchar_t* section) {
    return section ? std::wstring(section) : std::wstring();
}

// Kind of value Setvault is told about for a type code.
int registryKind(SettingType type) {
    switch (type) {
        case kSettingInt16:
        case kSettingInt32:
            return 5;
        case kSettingUInt16:
        case kSettingUInt32:
            return 9;
        case kSettingFloat:
        case kSettingDouble:
        case kSettingPoint:
            return 13;
        case kSettingBool:
        case kSettingBool32:
            return 15;
        default:
            return 19;
    }
}

// Key of one coordinate of a point row: the '?' of the name replaced by the axis letter
// (appended when a name has none).
std::wstring pointKey(const wchar_t* name, int axis) {
    std::wstring key = name;
    const size_t mark = key.find(L'?');
    if (mark == std::wstring::npos)
        key += kAxisLetters[axis];
    else
        key[mark] = kAxisLetters[axis];
    return key;
}

std::wstring boolText(bool value) {
    return value ? L"TRUE" : L"FALSE";
}

void loadValue(const SettingEntry& entry, const std::wstring& text) {
    void* value = entry.value;
    switch (entry.type) {
        case kSettingUInt8:
            *static_cast<std::uint8_t*>(value) = std::uint8_t(ParseUnsignedText(text));
            break;
        case kSettingInt16:
            *static_cast<std::int16_t*>(value) = std::int16_t(ParseSignedText(text));
            break;
        case kSettingInt32:
            *static_cast<std::int32_t*>(value) = ParseSignedText(text);
            break;
        case kSettingUInt16:
            *static_cast<std::uint16_t*>(value) = std::uint16_t(ParseUnsignedText(text));
            break;
        case kSettingUInt32:
            *static_cast<std::uint32_t*>(value) = ParseUnsignedText(text);
            break;
        case kSettingFloat:
            *static_cast<float*>(value) = float(ParseFloatingText(text));
            break;
        case kSettingDouble:
            *static_cast<double*>(value) = ParseFloatingText(text);
            break;
        case kSettingBool:
            *static_cast<bool*>(value) = ParseBooleanText(text);
            break;
        case kSettingBool32:
            *static_cast<std::int32_t*>(value) = ParseBooleanText(text) ? 1 : 0;
            break;
        case kSettingShortText: {
            // At most three characters fit; a longer stored text is cut.
            wchar_t* target = static_cast<wchar_t*>(value);
            const size_t length = std::min<size_t>(text.size(), 3);
            std::wmemcpy(target, text.data(), length);
            target[length] = L'\0';
            break;
        }
        case kSettingString:
            *static_cast<std::wstring*>(value) = text;
            break;
        case kSettingChar:
            *static_cast<wchar_t*>(value) = text.empty() ? L'\0' : text[0];
            break;
        default:
            break;
    }
}

// Stored text of a non-point row; false for a type without a stored form.
bool savedText(const SettingEntry& entry, std::wstring& text) {
    const void* value = entry.value;
    switch (entry.type) {
        case kSettingUInt8:
            text = FormatWide(kValueChars, L"%d", int(*static_cast<const std::uint8_t*>(value)));
            return true;
        case kSettingInt16:
            text = FormatWide(kValueChars, L"%hd", *static_cast<const std::int16_t*>(value));
            return true;
        case kSettingInt32:
            text = FormatWide(kValueChars, L"%d", *static_cast<const std::int32_t*>(value));
            return true;
        case kSettingUInt16:
            text =
                FormatWide(kValueChars, L"%u", unsigned(*static_cast<const std::uint16_t*>(value)));
            return true;
        case kSettingUInt32:
            text = FormatWide(kValueChars, L"%lu",
                              (unsigned long)*static_cast<const std::uint32_t*>(value));
            return true;
        case kSettingFloat:
            text = FormatWide(kValueChars, L"%f", double(*static_cast<const float*>(value)));
            return true;
        case kSettingDouble:
            text = FormatWide(kValueChars, L"%.10lf", *static_cast<const double*>(value));
            return true;
        case kSettingBool:
            text = boolText(*static_cast<const bool*>(value));
            return true;
        case kSettingBool32:
            text = boolText(*static_cast<const std::int32_t*>(value) != 0);
            return true;
        case kSettingString:
            text = *static_cast<const std::wstring*>(value);
            return true;
        case kSettingChar: {
            const wchar_t c = *static_cast<const wchar_t*>(value);
            text = c ? std::wstring(1, c) : std::wstring();
            return true;
        }
        default:
            return false;
    }
}

void listValue(DebugLog& log, const SettingEntry& entry) {
    const wchar_t* name = entry.name;
    const void* value = entry.value;
    switch (entry.type) {
        case kSettingUInt8:
            log.Print(L"  %ls = %u\n", name, unsigned(*static_cast<const std::uint8_t*>(value)));
            break;
        case kSettingInt16:
            log.Print(L"  %ls = %d\n", name, int(*static_cast<const std::int16_t*>(value)));
            break;
        case kSettingInt32:
            log.Print(L"  %ls = %ld\n", name, long(*static_cast<const std::int32_t*>(value)));
            break;
        case kSettingUInt16:
            log.Print(L"  %ls = %u\n", name, unsigned(*static_cast<const std::uint16_t*>(value)));
            break;
        case kSettingUInt32:
            log.Print(L"  %ls = %lu\n", name,
                      (unsigned long)*static_cast<const std::uint32_t*>(value));
            break;
        case kSettingFloat:
            log.Print(L"  %ls = %f\n", name, double(*static_cast<const float*>(value)));
            break;
        case kSettingDouble:
            log.Print(L"  %ls = %lf\n", name, *static_cast<const double*>(value));
            break;
        case kSettingBool:
            log.Print(L"  %ls = %ls\n", name, boolText(*static_cast<const bool*>(value)).c_str());
            break;
        case kSettingBool32:
            log.Print(L"  %ls = %ls\n", name,
                      boolText(*static_cast<const std::int32_t*>(value) != 0).c_str());
            break;
        case kSettingShortText:
            log.Print(L"  %ls = %ls\n", name, static_cast<const wchar_t*>(value));
            break;
        case kSettingString:
            // The value goes out unformatted: it may be longer than a print buffer.
            log.Print(L"  %ls = ", name);
            log.WriteText(*static_cast<const std::wstring*>(value));
            log.WriteText(L"\n");
            break;
        case kSettingPoint: {
            const CPoint3& point = *static_cast<const CPoint3*>(value);
            log.Print(L"  %ls = {%lf, %lf, %lf}\n", name, point[0], point[1], point[2]);
            break;
        }
        case kSettingChar: {
            const wchar_t c = *static_cast<const wchar_t*>(value);
            if (c)
                log.Print(L"  %ls = %lc\n", name, wint_t(c));
            else
                log.Print(L"  %ls = \n", name);
            break;
        }
        default:
            log.Print(L"  %ls = *** unrecognized type %u ***\n", name, unsigned(entry.type));
            break;
    }
}

}  // namespace

std::wstring effectiveSection(const SettingEntry& entry, const std::wstring& section) {
    if (entry.userWritable && entry.userScoped &&
        std::wstring_view(section).substr(0, 5) != kUserSectionPrefix)
        return kUserSectionPrefix + section;
    return section;
}

void registerSettings(const SettingEntry* table, const wchar_t* section) {
    if (!table)
        return;
    const std::wstring plain = sectionText(section);
    const std::wstring userSection = kUserSectionPrefix + plain;
    for (const SettingEntry* entry = table; entry->type != kSettingEnd; ++entry) {
        const bool perUser = entry->userWritable && entry->userScoped;
        const std::wstring& target = perUser ? userSection : plain;
        const int kind = registryKind(entry->type);
        const auto announce = [&](const std::wstring& key) {
            AddRegSetting(target.c_str(), key.c_str(), entry->defaultText, kind, entry->regParam,
                          entry->userWritable, entry->regFlag, entry->userScoped);
            if (perUser)
                QlnRegisterUserSetting(plain.c_str(), key.c_str(), kind, entry->userWritable,
                                       entry->userScoped, userSection.c_str(), key.c_str());
        };
        if (entry->type == kSettingPoint) {
            for (int axis = 0; axis < 3; ++axis)
                announce(pointKey(entry->name, axis));
        } else {
            announce(entry->name);
        }
    }
}

bool loadSettings(const SettingEntry* table, const wchar_t* section) {
    const std::wstring plain = sectionText(section);
    const bool stored =
        RegKeyExists(plain.c_str()) || RegKeyExists((kUserSectionPrefix + plain).c_str());
    if (!table)
        return stored;
    for (const SettingEntry* entry = table; entry->type != kSettingEnd; ++entry) {
        const std::wstring target = effectiveSection(*entry, plain);
        if (entry->type == kSettingPoint) {
            CPoint3& point = *static_cast<CPoint3*>(entry->value);
            for (int axis = 0; axis < 3; ++axis)
                point[axis] = ParseFloatingText(GetRegString(
                    target.c_str(), pointKey(entry->name, axis).c_str(), entry->defaultText));
        } else {
            loadValue(*entry, GetRegString(target.c_str(), entry->name, entry->defaultText));
        }
    }
    return stored;
}

void saveSettings(const SettingEntry* table, const wchar_t* section) {
    if (!table)
        return;
    const bool administrator = IsAdmin() != 0;
    const std::wstring plain = sectionText(section);
    for (const SettingEntry* entry = table; entry->type != kSettingEnd; ++entry) {
        if (!entry->userWritable && !administrator)
            continue;
        const std::wstring target = effectiveSection(*entry, plain);
        if (entry->type == kSettingPoint) {
            const CPoint3& point = *static_cast<const CPoint3*>(entry->value);
            for (int axis = 0; axis < 3; ++axis)
                WriteRegString(target.c_str(), pointKey(entry->name, axis).c_str(),
                               FormatWide(kValueChars, L"%.10lf", point[axis]).c_str(), false);
            continue;
        }
        std::wstring text;
        if (savedText(*entry, text))
            WriteRegString(target.c_str(), entry->name, text.c_str(), false);
    }
}

void listSettings(const SettingEntry* table, const wchar_t* section) {
    if (!table || !section)
        return;
    DebugLog& log = TheDebugLog();
    log.Print(L"BEGIN listing of INI active (in memory) values for [%ls]\n", section);
    for (const SettingEntry* entry = table; entry->name != nullptr; ++entry)
        listValue(log, *entry);
    log.Print(L"END listing of INI active (in memory) values for [%ls]\n", section);
    static std::atomic<bool> registryWritten{false};
    if (!registryWritten.exchange(true))
        WriteRegSettingsToDebugFile();
}
