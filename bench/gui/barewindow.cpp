// The yardstick for the client's start-up time and memory: a Qt window of the
// client's size and flags with nothing in it. Title from the first argument;
// "--text" as the second adds one push button with a caption, which shows what
// drawing any text at all costs (fonts, shaping).
#include <QApplication>
#include <QPushButton>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                                | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("BareWindow"));
    window.setFixedSize(377, 123);
    if (argc > 2 && std::strcmp(argv[2], "--text") == 0)
        (new QPushButton(QStringLiteral("Preferences"), &window))->setGeometry(0, 96, 121, 25);
    window.show();
    return application.exec();
}
