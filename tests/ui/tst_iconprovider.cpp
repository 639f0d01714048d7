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
    void symbols()
    {
        for (const QString &file : QDir(u":/icons"_s).entryList()) { // tinted, but not filled
            const QImage image = request(file.chopped(4) + u"?color=#336699"_s, {0, 32});
            QCOMPARE(image.size(), QSize(32, 32)); // square when one side is given
            const auto *p = reinterpret_cast<const QRgb *>(image.constBits());
            const auto drawn = std::count_if(p, p + 1024, [](QRgb c) { return c == 0xff336699; });
            QVERIFY2(drawn >= 64 && drawn <= 960, qPrintable(file));
        }
        for (const QString &name : {u"kettle"_s, u"../TolvoLogo"_s}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"no symbol named"_s));
            QVERIFY(request(name + u"?color=#ff0000"_s, {16, 16}).isNull());
        }
    }

    void pixels_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QPointF>("at"); // in the symbols' 24-unit grid
        QTest::addColumn<QColor>("expected");
        const QString x = u"xmark-circle-fill"_s;
        const QPointF disc(12, 4);
        const QColor hole = Qt::transparent;
        QTest::newRow("argb, %23") << x + u"?color=%2380ff0000"_s << disc << QColor(255, 0, 0, 128);
        QTest::newRow("no colour: black") << x << disc << QColor(Qt::black);
        QTest::newRow("x") << x << QPointF(12, 12) << hole;
        QTest::newRow("1 stem") << u"1-circle-fill"_s << QPointF(12.1, 12) << hole;
        QTest::newRow("3 lower bowl") << u"3-circle-fill"_s << QPointF(14.35, 14.15) << hole;
        QTest::newRow("prompt chevron") << u"terminal-fill"_s << QPointF(9.8, 12) << hole;
    }

    void pixels()
    {
        QFETCH(QString, id);
        QFETCH(QPointF, at);
        QTEST(request(id, {56, 0}).pixelColor(int(at.x() * 56 / 24), int(at.y() * 56 / 24)),
              "expected");
    }
};

QTEST_MAIN(TestIconProvider)
#include "tst_iconprovider.moc"
