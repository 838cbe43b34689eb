#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Qx-Console"));
    QLabel window(QStringLiteral("Qx-Console"));
    window.resize(550, 300);
    window.show();
    return QApplication::exec();
}
