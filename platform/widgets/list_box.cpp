// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/list_box.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QStaticText>
#include <QStyle>
#include <QStyledItemDelegate>

namespace lumora::platform::widgets {

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
        // Passing over QListView's relayout is the point.
        // NOLINTNEXTLINE(bugprone-parent-virtual-call)
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    viewport()->update();
}

} // namespace lumora::platform::widgets
