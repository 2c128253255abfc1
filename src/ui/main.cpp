#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevane"));
    QLabel placeholder(QStringLiteral("Brevane"));
    placeholder.setWindowTitle(QStringLiteral("Brevane"));
    placeholder.resize(900, 520);
    placeholder.show();
    return app.exec();
}
