// Compiled in from ui/ directly, so this test needs no QML module.
#include "iconprovider.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

// `id` is what follows "image://icon/" in a source; the engine passes an unencoded '#' as it is.
static QImage request(const QString &id, const QSize &requested)
{
    return TintedIconProvider().requestImage(id, nullptr, requested);
}

class TestIconProvider : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everySymbolRenders_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &file : QDir(u":/icons"_s).entryList())
            QTest::newRow(qPrintable(file)) << file.chopped(4);
    }

    void everySymbolRenders()
    {
        QFETCH(QString, name);
        const QImage image = request(name + u"?color=#336699"_s, {0, 16});
        QCOMPARE(image.size(), QSize(16, 16)); // square when one side is given
        int drawn = 0;
        for (int i = 0; i < 16 * 16; ++i)
            drawn += qAlpha(image.pixel(i % 16, i / 16)) > 200;
        QVERIFY2(drawn >= 16 && drawn <= 240, qPrintable(QString::number(drawn))); // not filled
    }

    void pixels_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QPointF>("at"); // in the symbols' 24-unit grid
        QTest::addColumn<QColor>("expected");
        const QString x = u"xmark-circle-fill"_s;
        const QPointF disc(12, 4);
        const QColor hole = Qt::transparent;
        QTest::newRow("rgb") << x + u"?color=#ff8000"_s << disc << QColor(255, 128, 0);
        QTest::newRow("argb") << x + u"?color=#80ff0000"_s << disc << QColor(255, 0, 0, 128);
        QTest::newRow("%23") << x + u"?color=%2300c0ff"_s << disc << QColor(0, 192, 255);
        QTest::newRow("no colour: black") << x << disc << QColor(Qt::black);
        QTest::newRow("x") << x << QPointF(12, 12) << hole;
        QTest::newRow("1 stem") << u"1-circle-fill"_s << QPointF(12.1, 12) << hole;
        QTest::newRow("2 base") << u"2-circle-fill"_s << QPointF(12, 16.45) << hole;
        QTest::newRow("3 lower bowl") << u"3-circle-fill"_s << QPointF(14.35, 14.15) << hole;
        QTest::newRow("prompt chevron") << u"terminal-fill"_s << QPointF(9.8, 12) << hole;
        QTest::newRow("prompt underscore") << u"terminal-fill"_s << QPointF(15, 15.4) << hole;
    }

    void pixels()
    {
        QFETCH(QString, id);
        QFETCH(QPointF, at);
        QFETCH(QColor, expected);
        // As stored premultiplied, which rounds a translucent colour by a step or two.
        QCOMPARE(request(id, {56, 0}).pixelColor(int(at.x() * 56 / 24), int(at.y() * 56 / 24)),
                 QColor::fromRgba(qUnpremultiply(qPremultiply(expected.rgba()))));
    }

    void unknownNamesGiveNothing()
    {
        for (const QString &name : {u"kettle"_s, u"../TolvoLogo"_s, u"pin.svg"_s}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"no symbol named"_s));
            QVERIFY(request(name + u"?color=#ff0000"_s, {16, 16}).isNull());
        }
    }
};

QTEST_MAIN(TestIconProvider)
#include "tst_iconprovider.moc"
