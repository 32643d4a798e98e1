// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/settings_store.h"
#include "timeline/lanes.h"
#include "timeline/reply_store.h"

#include <QObject>
#include <QString>

namespace lumora::waveform {

// Which lanes a signals window leaves out: those the user hid, and, while
// hidesStill(), those whose value never changes in what the store holds (none
// while it holds nothing). Kept in the owner's settings, section "Signals":
// "HIDDEN", the names of the lanes the user hid between spaces, and
// "HIDE_STILL", 1 or 0. Read when made, saved on every change.
class LaneChoice : public QObject {
    Q_OBJECT
public:
    inline static const QString kSection = QStringLiteral("Signals");
    inline static const QString kHiddenKey = QStringLiteral("HIDDEN");
    inline static const QString kHideStillKey = QStringLiteral("HIDE_STILL");

    LaneChoice(const timeline::ReplyStore& store, settings::SettingsStore& settings, QString application,
               QObject* parent = nullptr);

    [[nodiscard]] timeline::LaneSet chosen() const { return chosen_; }
    [[nodiscard]] bool hidesStill() const { return hideStill_; }
    // Those the rule leaves out now; none while it is off.
    [[nodiscard]] timeline::LaneSet still() const { return still_; }
    [[nodiscard]] timeline::LaneSet hidden() const { return chosen_ | (hideStill_ ? still_ : 0); }

    // False when the settings refused the value (errorString() says why);
    // the choice holds all the same.
    [[nodiscard]] bool setChosen(timeline::LaneSet lanes);
    [[nodiscard]] bool setHidesStill(bool hide);
    [[nodiscard]] QString errorString() const { return error_; }

public Q_SLOTS:
    // The store grew, lost its oldest replies, or was loaded anew.
    void storeChanged();

Q_SIGNALS:
    void hiddenChanged(timeline::LaneSet hidden);

private:
    bool save(const QString& key, const QString& value);
    void tellIfChanged(timeline::LaneSet before);

    const timeline::ReplyStore& store_;
    settings::SettingsStore& settings_;
    QString application_;
    timeline::LaneSet chosen_ = 0;
    timeline::LaneSet still_ = 0;
    bool hideStill_ = false;
    QString error_;
};

} // namespace lumora::waveform
