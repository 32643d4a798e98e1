#include "log/log_list_model.h"

#include <algorithm>

namespace eventlog {

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole)
        return {};
    return lines_.at(index.row());
}

int LogListModel::append(const QString& line) {
    // Trimmed as one range so a full list costs one removal signal per append;
    // removing from the front of a QList is O(1).
    const auto excess = static_cast<int>(lines_.size()) - kKeepBeforeAppend;
    if (excess > 0) {
        beginRemoveRows({}, 0, excess - 1);
        lines_.remove(0, excess);
        endRemoveRows();
    }

    const auto row = static_cast<int>(lines_.size());
    beginInsertRows({}, row, row);
    lines_.append(line);
    endInsertRows();
    return row;
}

void LogListModel::append(const QStringList& lines) {
    const auto count = static_cast<int>(lines.size());
    if (count == 0)
        return;
    // Of the new lines, at most kKeepBeforeAppend + 1 could survive the
    // appends after them; of the old, only those that no append trims.
    const int fresh = std::min(count, kKeepBeforeAppend + 1);
    const int excess = static_cast<int>(lines_.size()) + fresh - (kKeepBeforeAppend + 1);
    if (excess > 0) {
        beginRemoveRows({}, 0, excess - 1);
        lines_.remove(0, excess);
        endRemoveRows();
    }
    const auto row = static_cast<int>(lines_.size());
    beginInsertRows({}, row, row + fresh - 1);
    lines_.append(lines.mid(count - fresh));
    endInsertRows();
}

void LogListModel::clear() {
    beginResetModel();
    lines_.clear();
    endResetModel();
}

} // namespace eventlog
