// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/lane_choice.h"

#include <QRegularExpression>
#include <QStringList>

namespace lumora::waveform {

namespace {

QString namesOf(timeline::LaneSet lanes) {
    QStringList names;
    for (int lane = 0; lane < timeline::kAllLaneCount; ++lane) {
        if ((lanes >> lane & 1U) != 0)
            names << timeline::anyLaneName(lane);
    }
    return names.join(u' ');
}

// Commas are taken too, as a hand may write them (the settings file keeps a
// value with commas only in quotes). A name no lane has is passed over.
timeline::LaneSet lanesNamed(const QString& text) {
    timeline::LaneSet lanes = 0;
    static const QRegularExpression kBetween(QStringLiteral("[\\s,]+"));
    for (const QString& name : text.split(kBetween, Qt::SkipEmptyParts)) {
        if (const std::optional<int> lane = timeline::anyLaneByName(name))
            lanes |= timeline::LaneSet{1} << *lane;
    }
    return lanes;
}

} // namespace

LaneChoice::LaneChoice(const timeline::ReplyStore& store, settings::SettingsStore& settings,
                       QString application, QObject* parent)
    : QObject(parent)
    , store_(store)
    , settings_(settings)
    , application_(std::move(application)) {
    chosen_ = lanesNamed(settings_.read(application_, kSection, kHiddenKey, QString()));
    hideStill_ = settings_.read(application_, kSection, kHideStillKey, QStringLiteral("0")) == u"1";
    storeChanged();
}

bool LaneChoice::setChosen(timeline::LaneSet lanes) {
    const timeline::LaneSet before = hidden();
    chosen_ = lanes & timeline::kEveryLane;
    tellIfChanged(before);
    return save(kHiddenKey, namesOf(chosen_));
}

bool LaneChoice::setHidesStill(bool hide) {
    const timeline::LaneSet before = hidden();
    hideStill_ = hide;
    storeChanged();
    tellIfChanged(before);
    return save(kHideStillKey, hide ? QStringLiteral("1") : QStringLiteral("0"));
}

void LaneChoice::storeChanged() {
    const timeline::LaneSet before = hidden();
    still_ = !hideStill_ || store_.isEmpty()
                 ? 0
                 : timeline::kEveryLane & ~timeline::lanesThatChange(store_, {0, store_.size()});
    tellIfChanged(before);
}

bool LaneChoice::save(const QString& key, const QString& value) {
    if (settings_.save(application_, kSection, key, value))
        return true;
    error_ = settings_.errorString();
    return false;
}

void LaneChoice::tellIfChanged(timeline::LaneSet before) {
    if (hidden() != before)
        Q_EMIT hiddenChanged(hidden());
}

} // namespace lumora::waveform
