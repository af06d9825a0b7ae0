#pragma once

#include "window/Controls.h"

#include <vector>

namespace torvex::window {

// One control of the window as designed: name, control-array index (0 when
// none), kind, the container it lies in, place and size in twips, design
// caption, font size in points (all texts bold), visibility at design time,
// Tag and info-text number.
struct ControlDesign {
    const char* name;
    int index;
    ControlKind kind;
    const char* parent; // "" for the window itself
    int parentIndex;
    int left, top, width, height;
    const char* caption;
    double points;
    bool visible;
    const char* tag;
    int info;
};

// Every control of the window in the order of its control collection: the
// top level, the groups inside MainFrame with their children, then the rows
// (each row's label, then its column controls for columns 1 to 4).
const std::vector<ControlDesign>& WindowControls();

// The window's client area in twips.
inline constexpr int kWindowWidth = 11910;
inline constexpr int kWindowHeight = 8625;

} // namespace torvex::window
