#pragma once
// The tools the server knows: the standard's predefined RefTool and NoTool, and the styli of
// the tools file (docs/ipp.md), each with its tip offset, tip radius and the parameter
// blocks a client reads and sets with GetProp and SetProp (I++ DME 1.4.3, sections 6.3.6
// and 6.3.7).
//
// Tools file: one tool per line, "NAME X Y Z RADIUS" in millimetres, where X Y Z is the
// offset of the tip centre from the probe's reference point (the host's tip offset) and
// RADIUS the tip ball's radius. '#' starts a comment; blank lines are skipped.
//
//   # name     offset x  y     z      radius
//   T1A0B0     0         0     -50    1.5
//
// Plain value type, kept by the server for its whole run. Failures are return values with
// a reason; nothing throws. One thread at a time.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipp/session/CoordSystems.h"

namespace ipp {

inline constexpr std::string_view kRefToolName = "RefTool";
inline constexpr std::string_view kNoToolName = "NoTool";
// The name FoundTool carries before a successful FindTool.
inline constexpr std::string_view kUndefinedToolName = "UnDefTool";

// One value of a parameter block: the client may set `act` within [min, max]; the others
// are fixed. Every change of the active tool sets `act` back to `def`.
struct ToolParameter {
    std::string name;  // "PtMeasPar.Speed", ...
    double min = 0.0;
    double max = 0.0;
    double def = 0.0;
    double act = 0.0;
};

struct Tool {
    std::string name;
    Vec3 offset{};  // tip centre from the probe's reference point, millimetres
    double radius = 0.0;
    bool predefined = false;
    std::vector<ToolParameter> parameters;

    // Null for a name that is no parameter of the blocks ("GoToPar.Speed", ...).
    ToolParameter* Parameter(std::string_view name);
    void ResetToDefaults();
};

class ToolTable {
  public:
    // The predefined tools only.
    ToolTable();

    // Adds the tools of a tools file's text; `origin` names it in messages. On a wrong line
    // returns false with "ORIGIN:LINE: reason" in `error` and adds nothing.
    [[nodiscard]] bool LoadText(std::string_view text, std::string_view origin, std::string& error);
    // The same for a file; a file that cannot be read is an error too.
    [[nodiscard]] bool LoadFile(const std::string& path, std::string& error);

    // Null when no tool has this name.
    Tool* Find(std::string_view name);
    const std::vector<Tool>& Tools() const { return tools_; }

  private:
    std::vector<Tool> tools_;
};

// What a property name of GetProp and SetProp ("Tool.PtMeasPar.Speed.Max") points at.
struct ToolProperty {
    enum class Owner { ActiveTool, FoundTool };
    enum class Kind { Name, AvrRadius, Parameter };
    enum class Field { Act, Min, Max, Def };
    Owner owner = Owner::ActiveTool;
    Kind kind = Kind::Parameter;
    std::string parameter;  // for Kind::Parameter: "PtMeasPar.Speed"
    Field field = Field::Act;
};

enum class PropertyLookup { Found, Unknown, Unsupported };

// Resolves a property name. Unsupported: a tool property of the standard that this machine
// does not keep (scanning parameters, collision and alignment volumes).
PropertyLookup ParseToolProperty(std::string_view name, ToolProperty& property);

}  // namespace ipp
