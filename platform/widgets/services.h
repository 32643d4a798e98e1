// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace lumora::platform::widgets {

class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

class SystemBeeper final : public Beeper {
public:
    void beep() override;
};

// A box with the critical (stop) icon and an OK button; returns when it is
// closed. It holds the caller, not the window (see SystemDialogs::critical).
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void critical(QWidget* parent, const QString& title, const QString& text) = 0;
};

class SystemDialogs final : public Dialogs {
public:
    void critical(QWidget* parent, const QString& title, const QString& text) override;
};

// Opens a target with the desktop's default handler. What the handler then
// does is not reported; only a call that could not be made fails, and
// errorString() says why.
class Shell {
public:
    virtual ~Shell() = default;
    [[nodiscard]] virtual bool open(QWidget* parent, const QUrl& target) = 0;
    virtual QString errorString() const = 0;
};

class SystemShell final : public Shell {
public:
    [[nodiscard]] bool open(QWidget* parent, const QUrl& target) override;
    QString errorString() const override { return errorString_; }

private:
    QString errorString_;
};

} // namespace lumora::platform::widgets
