#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

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
// does is not reported; only a call that could not be made gives a reason.
class Shell {
public:
    virtual ~Shell() = default;
    virtual std::optional<QString> open(QWidget* parent, const QUrl& target) = 0;
};

class SystemShell final : public Shell {
public:
    std::optional<QString> open(QWidget* parent, const QUrl& target) override;
};

} // namespace lumora::platform::widgets