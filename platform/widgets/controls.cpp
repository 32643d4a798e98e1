// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/controls.h"

#include "protocol/status_reply.h"

#include <QApplication>
#include <QHash>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QStyledItemDelegate>

#include <limits>

namespace lumora::platform::widgets {

QColor systemColour(SystemColour which) {
    const QPalette palette = QApplication::palette();
    switch (which) {
    case SystemColour::ButtonFace:
        return palette.color(QPalette::Button);
    case SystemColour::Menu:
        return palette.color(QPalette::Window);
    case SystemColour::WindowText:
        return palette.color(QPalette::WindowText);
    }
    return {};
}

void ControlEvent::bind(EventGate& gate, std::function<void()> handler) {
    gate_ = &gate;
    handler_ = std::move(handler);
}

void ControlEvent::raise(bool byProgram) const {
    if (!handler_)
        return;
    if (byProgram)
        handler_();
    else
        gate_->deliver(handler_);
}

namespace {

// The program's own change runs its event inside the handler that made it;
// everything else is the user's and goes through the gate.
class ProgramChange {
public:
    explicit ProgramChange(bool& flag)
        : flag_(flag)
        , previous_(flag) {
        flag_ = true;
    }
    ~ProgramChange() { flag_ = previous_; }
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;

private:
    bool& flag_;
    bool previous_;
};

} // namespace

CheckBox::CheckBox(QWidget* parent)
    : QCheckBox(parent) {
    // Tristate only so that the greyed state can be shown; nextCheckState
    // keeps the user's clicks to ticked and unticked.
    setTristate(true);
    connect(this, &QCheckBox::stateChanged, this, [this](int) { changed.raise(byProgram_); });
}

int CheckBox::value() const {
    switch (checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

bool CheckBox::setValue(int value) {
    static constexpr Qt::CheckState kStates[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    if (!protocol::isShownState(value))
        return false;
    ProgramChange change(byProgram_);
    setCheckState(kStates[value]);
    return true;
}

void CheckBox::setColours(const QColor& text, const QColor& background) {
    QPalette p = palette();
    // The disabled group keeps the toolkit's greyed text, as a disabled box should look.
    p.setColor(QPalette::Active, QPalette::WindowText, text);
    p.setColor(QPalette::Inactive, QPalette::WindowText, text);
    p.setColor(QPalette::Window, background);
    setPalette(p);
    setAutoFillBackground(true);
}

void CheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

OptionButton::OptionButton(QWidget* parent)
    : QRadioButton(parent) {
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            selected.raise(byProgram_);
    });
}

void OptionButton::select() {
    ProgramChange change(byProgram_);
    setChecked(true);
}

NumericKeyFilter::NumericKeyFilter(std::function<void()> beep, QObject* parent)
    : QObject(parent)
    , beep_(std::move(beep)) {}

bool NumericKeyFilter::accepts(QChar typed) {
    return (typed >= u'0' && typed <= u'9') || typed == u'.' || typed == QChar(0x08);
}

void NumericKeyFilter::install(QWidget* field, std::function<void()> beep) {
    auto* filter = new NumericKeyFilter(std::move(beep), field);
    field->installEventFilter(filter);
    if (auto* combo = qobject_cast<QComboBox*>(field); combo != nullptr && combo->lineEdit() != nullptr)
        combo->lineEdit()->installEventFilter(filter);
}

bool NumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::InputMethod) {
        auto* input = static_cast<QInputMethodEvent*>(event);
        QString kept;
        for (const QChar typed : input->commitString()) {
            if (accepts(typed))
                kept.append(typed);
            else if (beep_)
                beep_();
        }
        if (kept.size() != input->commitString().size())
            input->setCommitString(kept, input->replacementStart(), input->replacementLength());
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Delete:
    case Qt::Key_Insert:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Backspace:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return false;
    default:
        break;
    }
    if (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35)
        return false;
    // Ctrl+letter arrives as a control character (copy, paste, select all,
    // undo ...): those are characters too, and refused like any other.
    const bool controlChord = key->modifiers().testAnyFlags(Qt::ControlModifier | Qt::MetaModifier);
    const QString text = key->text();
    if (text.isEmpty() && !controlChord)
        return false;
    if (!controlChord && accepts(text.front()))
        return false;
    if (beep_)
        beep_();
    return true;
}

TextBox::TextBox(QWidget* parent)
    : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        fitTypingLimit(text.size());
        changed.raise(byProgram_);
    });
}

void TextBox::setTextByProgram(const QString& text) {
    // The same text again is no change: no event, and no repaint of the box.
    if (text == this->text())
        return;
    fitTypingLimit(text.size());
    ProgramChange change(byProgram_);
    setText(text);
}

void TextBox::setTypingLimit(int limit) {
    typingLimit_ = limit;
    fitTypingLimit(text().size());
}

// The box's own maximum length cuts any longer text it is given, so it is
// raised to the length of a longer text and back to the limit as that text
// is shortened.
void TextBox::fitTypingLimit(qsizetype length) {
    if (typingLimit_ <= 0)
        return;
    const int allowed = std::max(typingLimit_, static_cast<int>(length));
    if (allowed == maxLength())
        return;
    // A new maximum puts the cursor at the end; the user's edit keeps it.
    const int cursor = cursorPosition();
    setMaxLength(allowed);
    setCursorPosition(cursor);
}

namespace {

// Draws each row's text as one line. The standard delegate lays each row's
// text out anew on every paint; a full log repaints all its visible rows for
// every frame while only a few of them are new. The laid-out text is kept
// per line here, so each line is shaped once while it shows.
class LineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const QPalette::ColorGroup group = !option.state.testFlag(QStyle::State_Enabled) ? QPalette::Disabled
                                           : option.state.testFlag(QStyle::State_Active) ? QPalette::Active
                                                                                         : QPalette::Inactive;
        if (selected)
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        const QStaticText& text = laidOut(index.data(Qt::DisplayRole).toString(), option.font);
        // The standard delegate's margin, and its vertical centring.
        const QWidget* widget = option.widget;
        const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QSizeF size = text.size();
        const QPointF at(option.rect.left() + margin,
                         option.rect.top() + (option.rect.height() - size.height()) / 2.0);
        painter->save();
        painter->setClipRect(option.rect);
        painter->setFont(option.font);
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawStaticText(at, text);
        painter->restore();
        if (option.state.testFlag(QStyle::State_HasFocus)) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor =
                option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

private:
    // Enough for every row a list box can show, with room for the new ones.
    static constexpr int kKeptLines = 512;

    const QStaticText& laidOut(const QString& line, const QFont& font) const {
        if (font != font_) {
            lines_.clear();
            font_ = font;
        }
        auto it = lines_.find(line);
        if (it != lines_.end())
            return *it;
        if (lines_.size() >= kKeptLines)
            lines_.clear();
        QStaticText text(line);
        text.setTextFormat(Qt::PlainText);
        text.setPerformanceHint(QStaticText::AggressiveCaching);
        text.prepare(QTransform(), font);
        return *lines_.insert(line, text);
    }

    mutable QHash<QString, QStaticText> lines_;
    mutable QFont font_;
};

} // namespace

ListBox::ListBox(QWidget* parent)
    : QListView(parent) {
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new LineDelegate(this));
}

void ListBox::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                          const QList<int>& roles) {
    // The list view's own handling schedules a new layout, and the item
    // view's works out the area of every changed row; repainting what shows
    // is all that the rows' new text needs.
    if (topLeft == bottomRight) {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles); // NOLINT(bugprone-parent-virtual-call): passing over QListView's relayout is the point
        return;
    }
    viewport()->update();
}

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The interval has no length limit: the line edit's own default would
    // cut a longer stored text.
    lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    connect(this, &QComboBox::editTextChanged, this, [this](const QString&) { changed.raise(byProgram_); });
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) { clicked.raise(false); });
}

void ComboBox::setTextByProgram(const QString& text) {
    ProgramChange change(byProgram_);
    setEditText(text);
}

void ComboBox::setBackground(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Base, colour);
    setPalette(p);
    if (lineEdit() != nullptr)
        lineEdit()->setPalette(p);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        clicked.raise(false);
}

Frame::Frame(const QString& caption, QWidget* parent)
    : QWidget(parent)
    , caption_(caption)
    , captionColour_(systemColour(SystemColour::WindowText)) {}

void Frame::setCaptionColour(const QColor& colour) {
    captionColour_ = colour;
    update();
}

void Frame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect border = rect().adjusted(0, top, -1, -1);

    // Etched border: a dark line with a light one beside it.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(border.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(border.adjusted(1, 1, 0, 0));

    if (caption_.isEmpty())
        return;
    constexpr int kCaptionLeft = 6;
    const QRect textRect(kCaptionLeft, 0, metrics.horizontalAdvance(caption_), metrics.height());
    painter.fillRect(textRect, palette().color(QPalette::Window));
    painter.setPen(isEnabled() ? captionColour_ : palette().color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

InputHold::InputHold(QWidget& window, QList<QWidget*> reachable)
    : window_(window)
    , reachable_(std::move(reachable)) {
    qApp->installEventFilter(this);
}

InputHold::~InputHold() {
    qApp->removeEventFilter(this);
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    // The box is a window of its own, so isAncestorOf leaves it out.
    if (widget == nullptr || (widget != &window_ && !window_.isAncestorOf(widget)))
        return false;
    for (const QWidget* open : reachable_) {
        if (widget == open || open->isAncestorOf(widget))
            return false;
    }
    return true;
}

} // namespace lumora::platform::widgets
