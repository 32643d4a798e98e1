#pragma once

#include <QColor>
#include <QString>

#include <optional>
#include <vector>

namespace lumora::app {

enum class Kind { Frame, Label, TextBox, Button, Option, CheckBox, ComboBox, ListBox, Panel, Link, Line };

enum class FontRole { Window, FrameCaption, Counter, Link, LogList };

// One control of the main window as designed: geometry in twips relative to
// its container (an empty parent means the window's client area).
struct ControlSpec {
    QString name;
    Kind kind = Kind::Label;
    QString parent;
    QString caption;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool enabled = true;
    std::optional<QColor> foreground;
    std::optional<QColor> background;
    FontRole font = FontRole::Window;
    int maxLength = 0;
    // What screen readers and desktop automation call the control, from the
    // label a user reads beside it; empty where the caption says it already.
    QString accessibleName;
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 11145;
inline constexpr int kClientHeightTwips = 10920;

constexpr int toPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

inline const QString kWindowTitle = QStringLiteral("Lumora 7150R Simulator Ver1.05 (2016/09/08)");
inline const QString kMakerPage = QStringLiteral("http://www.lumora.example/");

// Every visible control, containers before what they hold, in the order
// that keyboard focus visits them.
const std::vector<ControlSpec>& controlInventory();

// "chkDIValue(3)"
QString indexedName(const char* arrayName, int index);

// Arial and GulimChe are not found on most systems; map them to
// metric-compatible or at least same-kind faces.
void installFontFallbacks();

} // namespace lumora::app