// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/log_list_model.h"

#include <algorithm>

namespace lumora::log {

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QModelIndex LogListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || row >= lines_.size() || column != 0 || parent.isValid())
        return {};
    return createIndex(row, column);
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole)
        return {};
    return lines_.at(index.row());
}

int LogListModel::append(const QString& line) {
    append(QStringList{line});
    return static_cast<int>(lines_.size()) - 1;
}

void LogListModel::append(const QStringList& lines) {
    // Of the new lines, only the last kFull can outlast the appends after them.
    const auto fresh = static_cast<int>(std::min<qsizetype>(lines.size(), kFull));
    if (fresh == 0)
        return;
    const auto before = static_cast<int>(lines_.size());
    const int after = std::min(before + fresh, kFull);
    // Old lines pushed out at the top: the rows there take the next lines
    // in, as a change of text. The rest of the new lines are new rows.
    const int shifted = before + fresh - after;
    const qsizetype skipped = lines.size() - fresh;
    if (shifted > 0) {
        lines_.remove(0, shifted);
        lines_.append(lines.mid(skipped, shifted));
        Q_EMIT dataChanged(index(0), index(before - 1), {Qt::DisplayRole});
    }
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        lines_.append(lines.mid(skipped + shifted));
        endInsertRows();
    }
    Q_EMIT linesAppended(after - fresh, after - 1);
}

void LogListModel::clear() {
    beginResetModel();
    lines_.clear();
    endResetModel();
}

} // namespace lumora::log
