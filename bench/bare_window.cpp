// The floor for start-up: the smallest Qt window program, built in the same
// tree as the client and timed the same way (app/shown_probe.h).

#include "app/shown_probe.h"

#include <QApplication>
#include <QWidget>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(kWidth, kHeight);
    const auto probe = app::ShownProbe::attachIfAsked(window);
    window.show();
    return QApplication::exec();
}
