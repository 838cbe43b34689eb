// Shows the help window alone, for looking at it:
//   help_preview [--topic N]                 shows the window on topic N
//   help_preview --grab FILE [--topic N]     writes a picture of the window
//   help_preview --icons DIR SIZE...         writes every button icon as PNG
#include "app/TQtInteraction.h"
#include "help/TBubbleForm.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImageReader>
#include <QKeyEvent>
#include <QTimer>

namespace {

int WriteIcons(const QString& directory, const QStringList& sizes) {
    const QDir target(directory);
    for (const QString& file : QDir(":/icons").entryList(QDir::Files)) {
        for (const QString& size : sizes) {
            QImageReader reader(":/icons/" + file);
            reader.setScaledSize(QSize(size.toInt(), size.toInt()));
            const QString name = QFileInfo(file).completeBaseName() + "-" + size + ".png";
            if (!reader.read().save(target.filePath(name)))
                return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(icons);
    TQtInteraction interaction; // the help window's links open through it
    SetInteraction(&interaction);
    QCommandLineParser parser;
    parser.addPositionalArgument("sizes", "icon sizes in pixels");
    parser.addOption({"topic", "topic to show", "N", "0"});
    parser.addOption({"grab", "write a picture of the window", "FILE"});
    parser.addOption({"icons", "write the icons as PNG", "DIR"});
    parser.process(app);

    if (parser.isSet("icons"))
        return WriteIcons(parser.value("icons"), parser.positionalArguments());

    ShowBubbleForm(nullptr);
    for (int i = 0; i < parser.value("topic").toInt(); ++i) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(BubbleForm, &right);
    }
    if (parser.isSet("grab"))
        return BubbleForm->grab().save(parser.value("grab")) ? 0 : 1;
    BubbleForm->setAttribute(Qt::WA_QuitOnClose, true);
    return QApplication::exec();
}
