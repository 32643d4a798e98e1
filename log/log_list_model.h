// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace lumora::log {

// The on-screen log's lines. Before each append, lines are removed from the
// top until at most kKeepBeforeAppend remain, so the list holds at most
// kKeepBeforeAppend + 1 lines right after an append.
//
// Once the list is full, an append moves every line up one row and puts the
// new one in the last: views are told that the rows' text changed, not that
// rows came and went, so they need not lay out a thousand rows again for
// every line. linesAppended() names the rows of new lines either way.
class LogListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kKeepBeforeAppend = 1000;
    static constexpr int kFull = kKeepBeforeAppend + 1;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    // The view asks for every row's index each time it lays the list out;
    // the base class checks each one through two virtual calls.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Returns the row of the appended line.
    int append(const QString& line);
    // As many appends of one line each, in order, told to views at once: a
    // reply's block costs the list's bookkeeping once.
    void append(const QStringList& lines);
    void clear();
    const QString& line(int row) const { return lines_.at(row); }

Q_SIGNALS:
    // After an append: rows first..last hold the new lines.
    void linesAppended(int first, int last);

private:
    QStringList lines_;
};

} // namespace lumora::log
