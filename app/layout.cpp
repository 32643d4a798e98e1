// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/layout.h"

#include "protocol/status_reply.h"

#include <QFont>

namespace lumora::app {

namespace {

using platform::widgets::SystemColour;
using protocol::channelText;
using platform::widgets::TextBox;

constexpr QColor kFrameBlue{0x00, 0x00, 0xC0};
constexpr QColor kFrameGreen{0x00, 0xC0, 0x00};
constexpr QColor kTeal{0x00, 0x80, 0x80};
constexpr QColor kBlack{0x00, 0x00, 0x00};
constexpr QColor kLinkBlue{0x00, 0x00, 0xFF};
constexpr QColor kLineRed{0xFF, 0x00, 0x00};
constexpr QColor kPanelGrey{0xD4, 0xD0, 0xC8};
constexpr FontStyle kBold{.bold = true};
// One pixel narrower than drawn at first, which had End overlap List Clear.
constexpr int kEndWidthTwips = 1230;
// Wide enough for the whole maker's address in bold; the strip has room.
constexpr int kLinkWidthTwips = 3000;

QString s(const char* text) {
    return QString::fromLatin1(text);
}

ControlEntry control(QString name, ControlBinding binding, Kind kind, const char* parent, QString caption,
                    int l, int t, int w, int h) {
    ControlEntry c;
    c.name = std::move(name);
    c.binding = std::move(binding);
    c.kind = kind;
    c.parent = s(parent);
    c.caption = std::move(caption);
    c.left = l;
    c.top = t;
    c.width = w;
    c.height = h;
    return c;
}

// What the window's handlers never touch.
ControlEntry control(QString name, Kind kind, const char* parent, QString caption, int l, int t, int w,
                    int h) {
    return control(std::move(name), {}, kind, parent, std::move(caption), l, t, w, h);
}

ControlEntry frame(const char* name, const char* caption, QColor colour, int l, int t, int w, int h) {
    ControlEntry c = control(s(name), Kind::Frame, "", s(caption), l, t, w, h);
    c.foreground = colour;
    c.font = kBold;
    return c;
}

std::vector<ControlEntry> build() {
    std::vector<ControlEntry> v;
    auto add = [&v](ControlEntry c) -> ControlEntry& { return v.emplace_back(std::move(c)); };

    add(frame("Frame1", " TCP Information ", kFrameBlue, 30, 60, 7845, 855));
    add(control(s("Label3"), Kind::Label, "Frame1", s("Destination IP"), 300, 390, 1155, 225));
    ControlEntry& ip = add(control(s("txtDestIP"), &WindowControls::txtDestIP, Kind::TextBox, "Frame1", {},
                                  1530, 330, 1815, 330));
    ip.typingLimit = 15;
    ip.accessibleName = s("Destination IP");
    add(control(s("Label4"), Kind::Label, "Frame1", s("Port No"), 3600, 390, 615, 225));
    ControlEntry& port = add(control(s("txtDestPort"), &WindowControls::txtDestPort, Kind::TextBox, "Frame1",
                                    {}, 4260, 330, 825, 330));
    port.typingLimit = 5;
    port.accessibleName = s("Port No");
    add(control(s("cmdConnect"), &WindowControls::cmdConnect, Kind::Button, "Frame1", s("Connect"), 5250, 300,
                1155, 375));
    add(control(s("cmdDisconnect"), &WindowControls::cmdDisconnect, Kind::Button, "Frame1", s("Disconnect"),
                6420, 300, 1155, 375))
        .enabled = false;

    add(frame("Frame3", " Ping Test", kFrameBlue, 7950, 60, 3165, 855));
    add(control(s("cmdPingStart"), &WindowControls::cmdPingStart, Kind::Button, "Frame3", s("Ping Start"),
                360, 300, 1215, 375));
    add(control(s("cmdPingStop"), &WindowControls::cmdPingStop, Kind::Button, "Frame3", s("Ping Stop"), 1590,
                300, 1215, 375));

    add(frame("Frame2", " Data Send Action ", kFrameBlue, 30, 990, 7845, 855));
    add(control(indexedName("optInterval", 0), {&WindowControls::optInterval, 0}, Kind::Option, "Frame2",
                s("OneTime Send"), 420, 405, 1575, 225))
        .selected = true;
    add(control(indexedName("optInterval", 1), {&WindowControls::optInterval, 1}, Kind::Option, "Frame2",
                s("Repeat"), 2970, 405, 975, 225));
    add(control(indexedName("lblTime", 0), {&WindowControls::lblTime, 0}, Kind::Label, "Frame2",
                s("Time Interval"), 4560, 405, 1050, 225))
        .enabled = false;
    ControlEntry& interval = add(control(s("cboTime"), &WindowControls::cboTime, Kind::ComboBox, "Frame2",
                                        s("1"), 5715, 330, 825, 345));
    interval.enabled = false;
    for (int i = 1; i <= 15; ++i)
        interval.items.append(QString::number(i));
    interval.accessibleName = s("Time Interval");
    add(control(indexedName("lblTime", 1), {&WindowControls::lblTime, 1}, Kind::Label, "Frame2",
                s("(Second)"), 6570, 405, 750, 225))
        .enabled = false;

    add(frame("Frame7", " Log Level ", kFrameBlue, 7950, 990, 3165, 855));
    add(control(indexedName("optLog", 0), {&WindowControls::optLog, 0}, Kind::Option, "Frame7", s("List"),
                420, 390, 615, 255))
        .selected = true;
    add(control(indexedName("optLog", 1), {&WindowControls::optLog, 1}, Kind::Option, "Frame7",
                s("List + File"), 1740, 390, 1095, 255));

    add(frame("Frame8", " Data Send ", kFrameBlue, 30, 1920, 11085, 885));
    add(control(indexedName("optCommand", 0), {&WindowControls::optCommand, 0}, Kind::Option, "Frame8",
                s("R (Status Request)"), 390, 390, 1935, 240))
        .selected = true;
    add(control(indexedName("optCommand", 1), {&WindowControls::optCommand, 1}, Kind::Option, "Frame8",
                s("T (DO Setting) + DO Value"), 2520, 390, 2445, 240));
    add(control(indexedName("optCommand", 2), {&WindowControls::optCommand, 2}, Kind::Option, "Frame8",
                s("C (Count Reset)"), 5130, 390, 1815, 240));
    add(control(s("cmdSend"), &WindowControls::cmdSend, Kind::Button, "Frame8", s("Send"), 7050, 330, 1275,
                375))
        .enabled = false;
    add(control(s("cmdEnd"), &WindowControls::cmdEnd, Kind::Button, "Frame8", s("End"), 8340, 330,
                kEndWidthTwips, 375))
        .enabled = false;
    add(control(s("cmdClear"), &WindowControls::cmdClear, Kind::Button, "Frame8", s("List Clear"), 9570, 330,
                1245, 375));

    ControlEntry& list =
        add(control(s("List1"), &WindowControls::List1, Kind::ListBox, "", {}, 30, 6120, 11085, 4380));
    list.font = {.family = "GulimChe", .fixedPitch = true};
    list.accessibleName = s("Log");

    add(frame("Frame6", " Digital Input Value ", kFrameGreen, 30, 3150, 8235, 765));
    // Named by index: start-up recaptions them "00" to "11".
    for (int i = 0; i < 12; ++i)
        add(control(indexedName("chkDIValue", i), {&WindowControls::chkDIValue, i}, Kind::CheckBox, "Frame6",
                    channelText(i + 1), 240 + 660 * i, 360, 525, 225))
            .accessibleName = QStringLiteral("Digital Input ") + channelText(i);

    add(frame("Frame11", " Digital Output Value ", kFrameGreen, 8280, 3150, 2835, 765));
    for (int i = 0; i < 4; ++i) {
        ControlEntry& c =
            add(control(indexedName("chkDOValue", i), {&WindowControls::chkDOValue, i}, Kind::CheckBox,
                        "Frame11", channelText(i + 1), 180 + 660 * i, 360, i == 0 ? 525 : 555, 255));
        c.enabled = false;
        c.foreground = kBlack;
        c.background = SystemColour::ButtonFace;
        c.accessibleName = QStringLiteral("Digital Output ") + channelText(i + 1);
    }

    const char* valueFrames[] = {"Frame5", "Frame4"};
    const char* valueCaptions[] = {" Counter ", " Time Gap "};
    const char* valueNames[] = {"Counter", "Time Gap"};
    const char* valueArrays[] = {"txtCounter", "txtTimegap"};
    std::array<TextBox*, 12> WindowControls::*const valueMembers[] = {&WindowControls::txtCounter,
                                                                      &WindowControls::txtTimegap};
    const int valueTops[] = {3990, 5070};
    for (int f = 0; f < 2; ++f) {
        add(frame(valueFrames[f], valueCaptions[f], kFrameGreen, 30, valueTops[f], 11085, 1005));
        for (int i = 0; i < 12; ++i) {
            // Each caption stands centred over its box.
            add(control(indexedName("Label1", 12 * f + i), Kind::Label, valueFrames[f],
                        QStringLiteral("CH") + channelText(i + 1), 150 + 900 * i + (885 - 495) / 2, 300, 495,
                        225))
                .alignment = Qt::AlignHCenter | Qt::AlignTop;
        }
        for (int i = 0; i < 12; ++i) {
            ControlEntry& c = add(control(indexedName(valueArrays[f], i), {valueMembers[f], i}, Kind::TextBox,
                                         valueFrames[f], {}, 150 + 900 * i, 540, 885, 315));
            c.readOnly = true;
            c.foreground = kTeal;
            c.font.points = 8.25;
            c.accessibleName = QLatin1String(valueNames[f]) + QStringLiteral(" CH") + channelText(i + 1);
        }
    }

    // Drawn to the window's right edge; it was designed 15 twips past it.
    add(control(s("Line1"), Kind::Line, "", {}, 0, 2970, kClientWidthTwips, kTwipsPerPixel)).background =
        kLineRed;

    add(control(s("SSPanel2"), Kind::Panel, "", {}, 0, 10545, 11145, 375)).background = kPanelGrey;
    ControlEntry& link = add(control(s("Label11"), &WindowControls::Label11, Kind::Link, "SSPanel2",
                                    kMakerPage, 120, 90, kLinkWidthTwips, 225));
    link.foreground = kLinkBlue;
    link.font = kBold;
    link.cursor = Qt::PointingHandCursor;
    return v;
}

} // namespace

QString indexedName(const char* arrayName, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(arrayName)).arg(index);
}

const std::vector<ControlEntry>& controlInventory() {
    static const std::vector<ControlEntry> inventory = build();
    return inventory;
}

void installFontFallbacks() {
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("GulimChe"),
                               {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                                QStringLiteral("Noto Sans Mono"), QStringLiteral("Monospace")});
}

} // namespace lumora::app
