// Program entry: creates the application and its main window.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonalto"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Sonalto"));
    window.resize(800, 600);
    window.show();
    return QApplication::exec();
}
