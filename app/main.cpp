// The wizard's entry point: it creates and shows the start window and runs
// the event loop. There is no other start-up code.
#include <QApplication>

#include "ui/frmStart/frmStart.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tavrin::ui::frmStart start;
    start.show();
    return app.exec();
}
