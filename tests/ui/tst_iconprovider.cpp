// Compiled in from ui/ directly, so this test needs no QML module.
#include "../../ui/iconprovider.h"

#include <QFile>
#include <QImage>
#include <QSvgRenderer>
#include <QTest>
#include <QUrl>

namespace {

const QStringList allIcons =
    QStringLiteral("pin pin-fill gear bell trash minus-circle pencil xmark-circle-fill "
                   "terminal-fill folder doc-on-clipboard book 1-circle-fill 2-circle-fill "
                   "3-circle-fill")
        .split(QLatin1Char(' '));

// The id exactly as the engine passes it for an Image source.
QString engineId(const QString &source)
{
    return QUrl(source).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1);
}

QImage request(const QString &source, const QSize &requested, QSize *reported = nullptr)
{
    TintedIconProvider provider;
    QSize size;
    QImage image = provider.requestImage(engineId(source), &size, requested);
    if (reported)
        *reported = size;
    return image;
}

// A point given in the symbols' 24-unit grid, on an image of any size.
QColor sample(const QImage &image, QPointF unit)
{
    return image.pixelColor(int(unit.x() * image.width() / 24.0),
                            int(unit.y() * image.height() / 24.0));
}

} // namespace

class TestIconProvider : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everySymbolRenders_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pixels");
        for (const QString &name : allIcons) {
            for (int pixels : {16, 56})
                QTest::addRow("%s@%d", qPrintable(name), pixels) << name << pixels;
        }
    }

    void everySymbolRenders()
    {
        QFETCH(QString, name);
        QFETCH(int, pixels);
        QVERIFY(QFile::exists(QStringLiteral(":/icons/%1.svg").arg(name)));

        const QImage image = request("image://icon/" + name + "?color=#336699", {pixels, pixels});
        QCOMPARE(image.size(), QSize(pixels, pixels));
        int opaque = 0, clear = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const int alpha = qAlpha(image.pixel(x, y));
                opaque += alpha > 200;
                clear += alpha == 0;
            }
        }
        // Drawn, and not a filled square either.
        QVERIFY2(opaque >= pixels, qPrintable(QString::number(opaque)));
        QVERIFY2(clear >= pixels, qPrintable(QString::number(clear)));
    }

    void logoIsCompiledIn()
    {
        QSvgRenderer logo(QStringLiteral(":/TolvoLogo.svg"));
        QVERIFY(logo.isValid());
        QCOMPARE(logo.defaultSize(), QSize(128, 128));
    }

    void tint_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("rgb") << "image://icon/xmark-circle-fill?color=#ff8000"
                             << QColor(255, 128, 0);
        QTest::newRow("argb keeps alpha")
            << "image://icon/xmark-circle-fill?color=#80ff0000" << QColor(255, 0, 0, 128);
        QTest::newRow("percent-encoded")
            << "image://icon/xmark-circle-fill?color=%2300c0ff" << QColor(0, 192, 255);
        QTest::newRow("among other items")
            << "image://icon/xmark-circle-fill?v=2&color=%23202020" << QColor(32, 32, 32);
        QTest::newRow("no colour stays black")
            << "image://icon/xmark-circle-fill" << QColor(0, 0, 0);
    }

    void tint()
    {
        QFETCH(QString, source);
        QFETCH(QColor, expected);
        const QImage image = request(source, {56, 56});
        // Inside the disc, away from the x and from the anti-aliased rim.
        const QColor got = sample(image, {12, 4});
        QCOMPARE(got.alpha(), expected.alpha());
        // Premultiplied storage rounds a translucent colour by a step or two.
        QVERIFY2(qAbs(got.red() - expected.red()) <= 2 &&
                     qAbs(got.green() - expected.green()) <= 2 &&
                     qAbs(got.blue() - expected.blue()) <= 2,
                 qPrintable(got.name(QColor::HexArgb)));
    }

    void cutOutsAreHoles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPointF>("hole");
        QTest::addColumn<QPointF>("solid");
        QTest::newRow("x") << "xmark-circle-fill" << QPointF(12, 12) << QPointF(12, 4);
        QTest::newRow("1 stem") << "1-circle-fill" << QPointF(12.1, 12) << QPointF(16, 12);
        QTest::newRow("2 base") << "2-circle-fill" << QPointF(12, 16.45) << QPointF(12, 4);
        QTest::newRow("3 lower bowl") << "3-circle-fill" << QPointF(14.35, 14.15) << QPointF(12, 4);
        QTest::newRow("prompt chevron") << "terminal-fill" << QPointF(9.8, 12) << QPointF(12, 12);
        QTest::newRow("prompt underscore")
            << "terminal-fill" << QPointF(15, 15.4) << QPointF(15, 18);
    }

    void cutOutsAreHoles()
    {
        QFETCH(QString, name);
        QFETCH(QPointF, hole);
        QFETCH(QPointF, solid);
        // White shows whether a cut-out was painted instead of punched.
        const QImage image = request("image://icon/" + name + "?color=#ffffff", {56, 56});
        QCOMPARE(sample(image, hole).alpha(), 0);
        QCOMPARE(sample(image, solid).alpha(), 255);
    }

    void requestedSize_data()
    {
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("none") << QSize() << QSize(24, 24);
        QTest::newRow("zero") << QSize(0, 0) << QSize(24, 24);
        QTest::newRow("width only") << QSize(32, 0) << QSize(32, 32);
        QTest::newRow("height only") << QSize(-1, 20) << QSize(20, 20);
        QTest::newRow("device pixels") << QSize(40, 40) << QSize(40, 40);
    }

    void requestedSize()
    {
        QFETCH(QSize, requested);
        QFETCH(QSize, expected);
        QSize reported;
        const QImage image = request("image://icon/gear?color=#000000", requested, &reported);
        QCOMPARE(image.size(), expected);
        QCOMPARE(reported, QSize(24, 24));
    }

    void unknownNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "kettle";
        QTest::newRow("empty") << "";
        QTest::newRow("climbs out") << "../TolvoLogo";
        QTest::newRow("with extension") << "pin.svg";
    }

    void unknownNames()
    {
        QFETCH(QString, name);
        TintedIconProvider provider;
        QSize size(1, 1);
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("TintedIconProvider: no symbol named \"%1\"").arg(name)));
        QVERIFY(provider.requestImage(name + "?color=#ff0000", &size, {16, 16}).isNull());
        QVERIFY(!size.isValid());
    }
};

QTEST_MAIN(TestIconProvider)
#include "tst_iconprovider.moc"
