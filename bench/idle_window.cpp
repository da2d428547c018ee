// What being woken 25 times a second costs on this machine, for `make
// measure` to set the program's share on an unchanged screen against: a Qt
// window of the program's width whose only work is a 40 ms timer that does
// nothing.
//   huelens-bench-idle WIDTH
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int width = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 400;
    QWidget window;
    window.setWindowTitle(QStringLiteral("huelens-bench-idle"));
    window.resize(width > 0 ? width : 400, 600);
    window.show();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start(40);
    return app.exec();
}
