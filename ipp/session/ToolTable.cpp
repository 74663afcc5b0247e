#include "ipp/session/ToolTable.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ipp {

namespace {

// The parameter blocks of every tool: name, min, max, default (mm, mm/s, mm/s²). A hand-driven
// machine moves by itself never, so these are kept for clients that set and read them.
const ToolParameter kParameters[] = {
    {"GoToPar.Speed", 0.0, 500.0, 50.0, 50.0},    {"GoToPar.Accel", 0.0, 2000.0, 500.0, 500.0},
    {"PtMeasPar.Speed", 0.0, 50.0, 5.0, 5.0},     {"PtMeasPar.Accel", 0.0, 2000.0, 500.0, 500.0},
    {"PtMeasPar.Approach", 0.0, 50.0, 2.0, 2.0},  {"PtMeasPar.Search", 0.0, 50.0, 4.0, 4.0},
    {"PtMeasPar.Retract", -50.0, 50.0, 2.0, 2.0},
};

Tool MakeTool(std::string name, const Vec3& offset, double radius, bool predefined) {
    Tool tool;
    tool.name = std::move(name);
    tool.offset = offset;
    tool.radius = radius;
    tool.predefined = predefined;
    tool.parameters.assign(std::begin(kParameters), std::end(kParameters));
    return tool;
}

bool ParseDouble(const std::string& text, double& value) {
    const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && std::isfinite(value);
}

// A name an I++ string can carry: printable, no blank, no double quote.
bool UsableName(const std::string& name) {
    for (char c : name) {
        if (c <= 32 || c > 126 || c == '"')
            return false;
    }
    return !name.empty();
}

}  // namespace

ToolParameter* Tool::Parameter(std::string_view wanted) {
    for (ToolParameter& parameter : parameters) {
        if (parameter.name == wanted)
            return &parameter;
    }
    return nullptr;
}

void Tool::ResetToDefaults() {
    for (ToolParameter& parameter : parameters)
        parameter.act = parameter.def;
}

ToolTable::ToolTable() {
    tools_.push_back(MakeTool(std::string(kRefToolName), {}, 0.0, true));
    tools_.push_back(MakeTool(std::string(kNoToolName), {}, 0.0, true));
}

bool ToolTable::LoadText(std::string_view text, std::string_view origin, std::string& error) {
    std::vector<Tool> added;
    std::istringstream lines{std::string(text)};
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        auto fail = [&](const std::string& reason) {
            error = std::string(origin) + ':' + std::to_string(number) + ": " + reason;
            return false;
        };
        if (const std::size_t hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        if (words.empty())
            continue;
        if (words.size() != 5)
            return fail("a tool takes NAME X Y Z RADIUS, found " + std::to_string(words.size()) +
                        " values");
        const std::string& name = words[0];
        if (!UsableName(name))
            return fail("the name '" + name + "' has a character a tool name cannot hold");
        if (Find(name) || name == kUndefinedToolName || name == "BaseTool")
            return fail("the name '" + name + "' is taken");
        for (const Tool& other : added) {
            if (other.name == name)
                return fail("the tool '" + name + "' is listed twice");
        }
        double values[4];
        for (int i = 0; i < 4; ++i) {
            if (!ParseDouble(words[std::size_t(i) + 1], values[i]))
                return fail("'" + words[std::size_t(i) + 1] + "' is no number");
        }
        if (values[3] < 0.0)
            return fail("the radius is below 0");
        added.push_back(MakeTool(name, {values[0], values[1], values[2]}, values[3], false));
    }
    tools_.insert(tools_.end(), added.begin(), added.end());
    return true;
}

bool ToolTable::LoadFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    return LoadText(text, path, error);
}

Tool* ToolTable::Find(std::string_view name) {
    for (Tool& tool : tools_) {
        if (tool.name == name)
            return &tool;
    }
    return nullptr;
}

PropertyLookup ParseToolProperty(std::string_view name, ToolProperty& property) {
    property = ToolProperty{};
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos)
        return PropertyLookup::Unknown;
    const std::string_view owner = name.substr(0, dot);
    std::string_view rest = name.substr(dot + 1);
    if (owner == "Tool")
        property.owner = ToolProperty::Owner::ActiveTool;
    else if (owner == "FoundTool")
        property.owner = ToolProperty::Owner::FoundTool;
    else
        return PropertyLookup::Unknown;

    if (rest == "Name" || rest == "AvrRadius") {
        property.kind = rest == "Name" ? ToolProperty::Kind::Name : ToolProperty::Kind::AvrRadius;
        return PropertyLookup::Found;
    }
    for (std::string_view unsupported : {"ScanPar", "CollisionVolume", "Alignment",
                                         "AlignmentVolume", "ABCGoToPar", "ABCPtMeasPar"}) {
        if (rest == unsupported ||
            (rest.substr(0, unsupported.size()) == unsupported &&
             rest.size() > unsupported.size() && rest[unsupported.size()] == '.'))
            return PropertyLookup::Unsupported;
    }
    // BLOCK.VALUE or BLOCK.VALUE.FIELD; a value alone means its Act field.
    static constexpr std::pair<std::string_view, ToolProperty::Field> kFields[] = {
        {".Act", ToolProperty::Field::Act},
        {".Min", ToolProperty::Field::Min},
        {".Max", ToolProperty::Field::Max},
        {".Def", ToolProperty::Field::Def},
    };
    for (const auto& [suffix, field] : kFields) {
        if (rest.size() > suffix.size() && rest.substr(rest.size() - suffix.size()) == suffix) {
            property.field = field;
            rest.remove_suffix(suffix.size());
            break;
        }
    }
    for (const ToolParameter& parameter : kParameters) {
        if (parameter.name == rest) {
            property.kind = ToolProperty::Kind::Parameter;
            property.parameter = std::string(rest);
            return PropertyLookup::Found;
        }
    }
    return PropertyLookup::Unknown;
}

}  // namespace ipp
