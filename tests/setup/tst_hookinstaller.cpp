#include "hookinstaller.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <nlohmann/json.hpp>

using namespace Qt::StringLiterals;
using HookInstaller::State;

namespace {

const QString prefix = u"/opt/tolvo"_s;
const QString movedPrefix = u"/home/me/Tolvo Build"_s;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// The content with formatting taken out but key order kept.
std::string content(const QByteArray &text)
{
    if (text.trimmed().isEmpty())
        return "{}";
    return nlohmann::ordered_json::parse(text.constBegin(), text.constEnd()).dump();
}

int countTolvoCommands(const QByteArray &text)
{
    return int(text.count("share/tolvo/tolvo.sh"));
}

} // namespace

Q_DECLARE_METATYPE(HookInstaller::State)

class TestHookInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tolvoCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("tolvo");
        QTest::newRow("generated")
            << HookConfiguration::hookCommand(prefix).replace(u"\\\""_s, u"\""_s) << true;
        QTest::newRow("bare path") << u"/x/tolvo.sh"_s << true;
        QTest::newRow("single-quoted") << u"sh '/a b/tolvo.sh'"_s << true;
        QTest::newRow("longer name") << u"/x/mytolvo.sh"_s << false;
        QTest::newRow("backup copy") << u"/x/tolvo.sh.bak"_s << false;
    }
    void tolvoCommands()
    {
        QFETCH(QString, command);
        QFETCH(bool, tolvo);
        QCOMPARE(HookInstaller::isTolvoCommand(command), tolvo);
    }

    // Each settings file of the corpus goes through install, a second install, an
    // install from a moved build and remove, as text and as a file. The user's content
    // must come back unchanged apart from formatting; a file Tolvo cannot read as
    // settings must never be written.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<State>("before");
        QTest::addColumn<QString>("reason");

        QTest::newRow("missing") << u"missing.json"_s << State::NotInstalled << QString();
        QTest::newRow("empty object") << u"empty-object.json"_s << State::NotInstalled << QString();
        QTest::newRow("unrelated keys")
            << u"unrelated-keys.json"_s << State::NotInstalled << QString();
        QTest::newRow("user's hooks") << u"user-hooks.json"_s << State::NotInstalled << QString();
        QTest::newRow("older Tolvo")
            << u"older-tolvo.json"_s << State::OtherScriptPath << QString();
        QTest::newRow("no final newline")
            << u"no-trailing-newline.json"_s << State::NotInstalled << QString();
        QTest::newRow("invalid JSON") << u"invalid.json"_s << State::Invalid
                                      << u"is not valid JSON: parse error at line 4, column 1"_s;
        QTest::newRow("event not a list")
            << u"event-not-a-list.json"_s << State::Invalid
            << u"has a \"hooks\" entry \"PostToolUse\" that is not a list"_s;
    }
    void roundTrip()
    {
        QFETCH(QString, name);
        QFETCH(State, before);
        QFETCH(QString, reason);
        const QString corpus = QStringLiteral(TOLVO_SETUP_CORPUS_DIR "/");
        const bool exists = QFile::exists(corpus + name);
        const QByteArray original = readFile(corpus + name);
        QString expectedFile = corpus + QString(name).replace(u".json"_s, u".removed.json"_s);
        const QByteArray userContent =
            QFile::exists(expectedFile) ? readFile(expectedFile) : original;

        const HookInstaller::Inspection inspection = HookInstaller::inspect(original, prefix);
        QCOMPARE(inspection.state, before);
        QVERIFY2(inspection.reason.startsWith(reason), qPrintable(inspection.reason));

        TestHome home;
        const QString path = home.path() + u"/.claude/settings.json"_s;
        const QString backup = HookInstaller::backupPath(path);
        if (exists)
            writeFile(path, original);

        if (before == State::Invalid) {
            QVERIFY(!HookInstaller::install(original, prefix).ok);
            QVERIFY(!HookInstaller::remove(original).ok);
            for (const auto &outcome :
                 {HookInstaller::installFile(path, prefix), HookInstaller::removeFile(path)}) {
                QVERIFY(!outcome.ok && !outcome.changed);
                QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
            }
            QCOMPARE(readFile(path), original);
            QVERIFY(!QFile::exists(backup));
            return;
        }

        // As text.
        const HookInstaller::Edit installed = HookInstaller::install(original, prefix);
        QVERIFY(installed.ok && installed.changed);
        QVERIFY(installed.text.endsWith("}\n") && installed.text.contains("\n  \"hooks\": {\n"));
        QCOMPARE(countTolvoCommands(installed.text), 7);
        QCOMPARE(HookInstaller::inspect(installed.text, prefix).state, State::Installed);
        const HookInstaller::Edit again = HookInstaller::install(installed.text, prefix);
        QVERIFY(again.ok && !again.changed);
        QCOMPARE(again.text, installed.text);

        const HookInstaller::Inspection moved = HookInstaller::inspect(installed.text, movedPrefix);
        QCOMPARE(moved.state, State::OtherScriptPath);
        QCOMPARE(moved.otherScriptPaths, QStringList{HookConfiguration::hookScriptPath(prefix)});
        const HookInstaller::Edit reinstalled = HookInstaller::install(installed.text, movedPrefix);
        QCOMPARE(countTolvoCommands(reinstalled.text), 7);
        QCOMPARE(reinstalled.text.count(movedPrefix.toUtf8()), 7);
        QCOMPARE(HookInstaller::inspect(reinstalled.text, movedPrefix).state, State::Installed);

        const HookInstaller::Edit removed = HookInstaller::remove(reinstalled.text);
        QVERIFY(removed.ok && removed.changed);
        QCOMPARE(content(removed.text), content(userContent));
        QCOMPARE(HookInstaller::inspect(removed.text, prefix).state, State::NotInstalled);

        // As a file: the first change keeps the original; later ones leave that copy alone.
        auto outcome = HookInstaller::installFile(path, prefix);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(readFile(path), installed.text);
        QCOMPARE(QFile::exists(backup), exists);
        QCOMPARE(readFile(backup), original);
        QCOMPARE(HookInstaller::inspectFile(path, prefix).state, State::Installed);
        outcome = HookInstaller::installFile(path, prefix);
        QVERIFY(outcome.ok && !outcome.changed);
        outcome = HookInstaller::removeFile(path);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(content(readFile(path)), content(userContent));
        if (exists)
            QCOMPARE(readFile(backup), original);
        QVERIFY(!HookInstaller::removeFile(path).changed);
    }
};

QTEST_GUILESS_MAIN(TestHookInstaller)
#include "tst_hookinstaller.moc"
