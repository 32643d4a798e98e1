// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/window_controls.h"
#include "platform/widgets/system_colour.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>
#include <vector>

namespace lumora::app {

enum class Kind { Frame, Label, TextBox, Button, Option, CheckBox, ComboBox, ListBox, Panel, Link, Line };

// A fixed colour, or one of the desktop's named system colours.
using Colour = std::variant<QColor, platform::widgets::SystemColour>;

struct FontStyle {
    const char* family = "Arial";
    double points = 9;
    bool bold = false;
    // Asks for a fixed-pitch face wherever the family is missing.
    bool fixedPitch = false;
};

// One control of the main window as designed: geometry in twips relative to
// its container (an empty parent means the window's client area). Everything
// the window shows at start comes from here.
struct ControlEntry {
    QString name;
    Kind kind = Kind::Label;
    QString parent;
    QString caption;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool enabled = true;
    // An option button that starts selected.
    bool selected = false;
    // A text box that only the program writes.
    bool readOnly = false;
    // The text's colour (a frame's: its caption's); a filled background,
    // which is all a line shows.
    std::optional<Colour> foreground;
    std::optional<Colour> background;
    FontStyle font;
    Qt::Alignment alignment;
    // A combo box's list, in order.
    QStringList items;
    // Characters a text box takes from typing; 0 for no limit.
    int typingLimit = 0;
    std::optional<Qt::CursorShape> cursor;
    // What screen readers and desktop automation call the control, from the
    // label a user reads beside it; empty where the caption says it already.
    QString accessibleName;
    // Where the window keeps the control, for those its handlers work with.
    ControlBinding binding;
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 11145;
inline constexpr int kClientHeightTwips = 10920;

constexpr int toPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

inline const QString kWindowTitle = QStringLiteral("Lumora 7150R Simulator Ver1.05 (2016/09/08)");
inline constexpr FontStyle kWindowFont{};
inline const QString kMakerPage = QStringLiteral("http://www.lumora.example/");

// Every visible control, containers before what they hold, in the order
// that keyboard focus visits them.
const std::vector<ControlEntry>& controlInventory();

// "chkDIValue(3)"
QString indexedName(const char* arrayName, int index);

// Arial and GulimChe are not found on most systems; map them to
// metric-compatible or at least same-kind faces.
void installFontFallbacks();

} // namespace lumora::app
