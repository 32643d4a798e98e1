// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListView>

namespace lumora::platform::widgets {

// A list box of one-line text rows, all of one height, one of them selected
// at a time, none editable. A change of a row's
// text only repaints it: the rows keep their places, so the view is not laid
// out again (a list view would lay out every row for each change, which a
// full log, changing all its rows on each new line, cannot afford).
class ListBox : public QListView {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
};

} // namespace lumora::platform::widgets
