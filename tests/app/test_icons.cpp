// The toolbar pictures and the program icon that app/icons.qrc holds.
#include <QDir>
#include <QImageReader>
#include <QtTest>

#include <algorithm>

namespace {

const QStringList ButtonIcons = {"settings", "clear", "download", "send", "logfile", "help"};

// Largest difference between the colour channels of any visible pixel:
// 0 for pure greys.
int LargestColourSpread(const QImage& image) {
    int spread = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.alpha() < 32)
                continue;
            const int high = std::max({colour.red(), colour.green(), colour.blue()});
            const int low = std::min({colour.red(), colour.green(), colour.blue()});
            spread = std::max(spread, high - low);
        }
    }
    return spread;
}

int VisiblePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).alpha() >= 128 ? 1 : 0;
    }
    return count;
}

} // namespace

class TestIcons : public QObject {
    Q_OBJECT

private slots:
    void iconSetIsComplete() {
        QStringList expected{"qx-console.svg"};
        for (const QString& name : ButtonIcons)
            expected << name + ".svg" << name + "-disabled.svg";
        expected.sort();
        QCOMPARE(QDir(":/icons").entryList(QDir::Files), expected);
    }

    void iconsLoad_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("size");

        for (const QString& file : QDir(":/icons").entryList(QDir::Files)) {
            for (const int size : {20, 40})
                QTest::newRow(qPrintable(file + "@" + QString::number(size))) << file << size;
        }
    }

    // Every picture renders at single and double scale; the disabled forms are
    // greys, the others are not.
    void iconsLoad() {
        QFETCH(QString, file);
        QFETCH(int, size);
        QImageReader reader(":/icons/" + file);
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(VisiblePixels(image) > size * size / 8);
        if (file.contains("-disabled"))
            QVERIFY(LargestColourSpread(image) <= 12);
        else
            QVERIFY(LargestColourSpread(image) > 40);
    }
};

QTEST_MAIN(TestIcons)
#include "test_icons.moc"
