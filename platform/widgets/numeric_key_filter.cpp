// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/numeric_key_filter.h"

#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace lumora::platform::widgets {

bool NumericKeyFilter::accepts(QChar typed) {
    return (typed >= u'0' && typed <= u'9') || typed == u'.' || typed == QChar(0x08);
}

NumericKeyFilter* NumericKeyFilter::install(QWidget* field) {
    auto* filter = new NumericKeyFilter(field);
    field->installEventFilter(filter);
    if (auto* combo = qobject_cast<QComboBox*>(field); combo != nullptr && combo->lineEdit() != nullptr)
        combo->lineEdit()->installEventFilter(filter);
    return filter;
}

bool NumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::InputMethod) {
        auto* input = static_cast<QInputMethodEvent*>(event);
        QString kept;
        for (const QChar typed : input->commitString()) {
            if (accepts(typed))
                kept.append(typed);
            else
                Q_EMIT refused();
        }
        if (kept.size() != input->commitString().size())
            input->setCommitString(kept, input->replacementStart(), input->replacementLength());
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Delete:
    case Qt::Key_Insert:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Backspace:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return false;
    default:
        break;
    }
    if (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35)
        return false;
    // Ctrl+letter arrives as a control character (copy, paste, select all,
    // undo ...): those are characters too, and refused like any other.
    const bool controlChord = key->modifiers().testAnyFlags(Qt::ControlModifier | Qt::MetaModifier);
    const QString text = key->text();
    if (text.isEmpty() && !controlChord)
        return false;
    if (!controlChord && accepts(text.front()))
        return false;
    Q_EMIT refused();
    return true;
}

} // namespace lumora::platform::widgets
