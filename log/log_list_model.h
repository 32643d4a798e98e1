#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace eventlog {

// The on-screen log's lines. Before each append, lines are removed from the
// top until at most kKeepBeforeAppend remain, so the list holds at most
// kKeepBeforeAppend + 1 lines right after an append.
class LogListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kKeepBeforeAppend = 1000;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Returns the row of the appended line.
    int append(const QString& line);
    // As many appends of one line each, in order, told to views as one
    // insertion: a reply's block costs the list's bookkeeping once.
    void append(const QStringList& lines);
    void clear();
    const QString& line(int row) const { return lines_.at(row); }

private:
    QStringList lines_;
};

} // namespace eventlog
