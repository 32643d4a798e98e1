#include "app/shown_hook.h"

namespace app {

std::unique_ptr<QObject> attachShownHook(QWidget&) {
    return nullptr;
}

} // namespace app
