// The server's key store: generation, one-time acceptance, and the file on disk.
#include "common/key_file.h"
#include "server/keys/key_store.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

class TestKeyStore : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    ServerState state;

    static QByteArray read(const QString &path) { return test_files::lire(path); }
    void putKeys(const QByteArray &bytes)
    {
        QVERIFY(test_files::ecrire(state.rep_appli + "clefs.dat", bytes));
    }

    // The operator's ways of putting a new key file in place.
    void replace(const QString &how, const QByteArray &bytes)
    {
        const QByteArray path = QFile::encodeName(state.rep_appli + "clefs.dat");
        struct stat before {
        };
        QVERIFY(::stat(path, &before) == 0);
        if (how == "deleted")
            QVERIFY(QFile::remove(path));
        if (how == "renamed over")
            QVERIFY(test_files::ecrire(path + ".new", bytes) && ::rename(path + ".new", path) == 0);
        if (how != "in place, same size and time")
            return;
        QCOMPARE(qint64(before.st_size), qint64(bytes.size()));
        putKeys(bytes);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, path, times, 0) == 0);
    }

private Q_SLOTS:
    void init()
    {
        state = ServerState();
        state.rep_appli = dir.path() + u'/';
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    void generatedFileHas100KeysOfTheAlphabet()
    {
        QVERIFY(key_store::cre_clefs(state));
        const QByteArray content = read(state.rep_appli + "clefs.dat");
        QCOMPARE(content.size(), 1400);
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.size(), 101);
        const QRegularExpression form("^[A-Z1-9]{12}\r$");
        for (int i = 0; i < 100; ++i) {
            QVERIFY2(form.match(QString::fromLatin1(lines.at(i))).hasMatch(),
                     lines.at(i).constData());
            QCOMPARE(state.tab_clefs.at(i + 1) + '\r', QString::fromLatin1(lines.at(i)));
        }
    }

    void generationsDifferAndUseEveryCharacter()
    {
        // Two runs in the same second must not give the same keys, and over a few
        // files every one of the 35 characters shows up while "0" never does.
        const QStringList first = key_store::generer_clefs();
        const QStringList second = key_store::generer_clefs();
        QVERIFY(first != second);
        QSet<QChar> seen;
        for (int run = 0; run < 5; ++run)
            for (const QString &key : key_store::generer_clefs())
                for (QChar c : key)
                    seen.insert(c);
        QCOMPARE(seen.size(), 35);
        QVERIFY(!seen.contains(u'0'));
    }

    void codeIsAcceptedOnceAndStruckOnDiskAtOnce()
    {
        putKeys("AAAAAAAAAAAA\r\nBBBBBBBBBBBB\r\n\r\nDDDDDDDDDDDD\r\n");
        QVERIFY(key_store::charger_clefs(state));
        using V = key_store::Verification;
        QCOMPARE(key_store::verif_clef(state, ""), V::Refusee); // empty slots never match
        QCOMPARE(key_store::verif_clef(state, "bbbbbbbbbbbb"), V::Refusee);  // case counts
        QCOMPARE(key_store::verif_clef(state, " BBBBBBBBBBBB"), V::Refusee); // no trimming here
        QCOMPARE(read(state.fichier_clefs),
                 QByteArray("AAAAAAAAAAAA\r\nBBBBBBBBBBBB\r\n\r\nDDDDDDDDDDDD\r\n"));
        QCOMPARE(key_store::verif_clef(state, "BBBBBBBBBBBB"), V::Acceptee);
        // Gone from the file before anything else happens, empty line dropped too.
        QCOMPARE(read(state.fichier_clefs), QByteArray("AAAAAAAAAAAA\r\nDDDDDDDDDDDD\r\n"));
        QCOMPARE(key_store::verif_clef(state, "BBBBBBBBBBBB"), V::Refusee);
    }

    void linesBeyond100AreNeverAccepted()
    {
        QByteArray content;
        for (int i = 1; i <= 102; ++i)
            content +=
                QByteArray("K").append(QByteArray::number(i).rightJustified(11, '0')) + "\r\n";
        putKeys(content);
        QVERIFY(key_store::charger_clefs(state));
        QCOMPARE(key_store::verif_clef(state, "K00000000101"), key_store::Verification::Refusee);
        QCOMPARE(key_store::verif_clef(state, "K00000000100"), key_store::Verification::Acceptee);
        const QByteArray after = read(state.fichier_clefs);
        QVERIFY(!after.contains("K00000000101"));
        QCOMPARE(after.count('\n'), 99);
    }

    void allKeysUsedLeavesAnEmptyFileThatStillLoads()
    {
        putKeys("AAAAAAAAAAAA\r\n");
        QVERIFY(key_store::charger_clefs(state));
        QCOMPARE(key_store::verif_clef(state, "AAAAAAAAAAAA"), key_store::Verification::Acceptee);
        QCOMPARE(read(state.fichier_clefs), QByteArray());
        ServerState next;
        next.rep_appli = state.rep_appli;
        QVERIFY(key_store::charger_clefs(next));
        QCOMPARE(key_store::verif_clef(next, "AAAAAAAAAAAA"), key_store::Verification::Refusee);
    }

    void missingKeyFileDoesNotLoad() { QVERIFY(!key_store::charger_clefs(state)); }

    void keyFileThatCannotBeRewrittenIsSaidSo()
    {
        putKeys("AAAAAAAAAAAA\r\nBBBBBBBBBBBB\r\n");
        QVERIFY(key_store::charger_clefs(state));
        // A folder in the key file's place: no rewrite can land, whatever the rights.
        QVERIFY(QFile::remove(state.fichier_clefs));
        QVERIFY(QDir().mkdir(state.fichier_clefs));
        QCOMPARE(key_store::verif_clef(state, "AAAAAAAAAAAA"),
                 key_store::Verification::NonEnregistree);
        // Struck in memory all the same: it cannot be used twice in this run.
        QCOMPARE(key_store::verif_clef(state, "AAAAAAAAAAAA"), key_store::Verification::Refusee);
        // A failed generation keeps the keys in use.
        QVERIFY(!key_store::cre_clefs(state));
        QCOMPARE(state.tab_clefs.at(2), QString("BBBBBBBBBBBB"));
    }

    // A running store: A used already, then the file is replaced under it.
    void replacedFileRules_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<bool>("reloaded");
        QTest::addColumn<QByteArray>("after");

        const QByteArray dg = "DDDDDDDDDDDD\r\nGGGGGGGGGGGG\r\n";
        using V = key_store::Verification;
        QTest::newRow("unchanged") << "" << QByteArray() << "BBBBBBBBBBBB" << int(V::Acceptee)
                                   << false << QByteArray("CCCCCCCCCCCC\r\n");
        QTest::newRow("revoked") << "renamed over" << dg << "BBBBBBBBBBBB" << int(V::Refusee)
                                 << true << dg;
        QTest::newRow("new key struck in the new file")
            << "renamed over" << QByteArray("DDDDDDDDDDDD\r\n\r\nGGGGGGGGGGGG\r\n")
            << "GGGGGGGGGGGG" << int(V::Acceptee) << true << QByteArray("DDDDDDDDDDDD\r\n");
        QTest::newRow("used key given back by the operator")
            << "renamed over" << QByteArray("AAAAAAAAAAAA\r\nFFFFFFFFFFFF\r\n") << "AAAAAAAAAAAA"
            << int(V::Acceptee) << true << QByteArray("FFFFFFFFFFFF\r\n");
        QTest::newRow("in place, same size and time")
            << "in place, same size and time" << QByteArray("BBBBBBBBBBBB\r\nEEEEEEEEEEEE\r\n")
            << "CCCCCCCCCCCC" << int(V::Refusee) << true
            << QByteArray("BBBBBBBBBBBB\r\nEEEEEEEEEEEE\r\n");
        QTest::newRow("deleted: written anew from memory")
            << "deleted" << QByteArray() << "BBBBBBBBBBBB" << int(V::Acceptee) << false
            << QByteArray("CCCCCCCCCCCC\r\n");
    }

    void replacedFileRules()
    {
        QFETCH(QString, how);
        QFETCH(QByteArray, replacement);
        QFETCH(QString, code);
        QFETCH(int, verdict);
        QFETCH(bool, reloaded);
        QFETCH(QByteArray, after);

        putKeys("AAAAAAAAAAAA\r\nBBBBBBBBBBBB\r\nCCCCCCCCCCCC\r\n");
        QVERIFY(key_store::charger_clefs(state));
        QCOMPARE(key_store::verif_clef(state, "AAAAAAAAAAAA"), key_store::Verification::Acceptee);
        replace(how, replacement);

        bool relu = !reloaded;
        QCOMPARE(int(key_store::verif_clef(state, code, &relu)), verdict);
        QCOMPARE(relu, reloaded);
        QCOMPARE(read(state.fichier_clefs), after);
        // Never twice, and the shut-down leaves the file as it is now.
        QCOMPARE(key_store::verif_clef(state, code), key_store::Verification::Refusee);
        QVERIFY(key_store::ecrire_clefs(state, &relu));
        QVERIFY(!relu);
        QCOMPARE(read(state.fichier_clefs), after);
    }

    void fileReplacedBeforeShutDownIsLeftAsWritten()
    {
        putKeys("AAAAAAAAAAAA\r\n");
        QVERIFY(key_store::charger_clefs(state));
        // An empty line and a 101st line: a write from memory would drop both.
        const QByteArray replacement = "\r\n" + QByteArray("HHHHHHHHHHHH\r\n").repeated(101);
        replace("renamed over", replacement);
        bool relu = false;
        QVERIFY(key_store::ecrire_clefs(state, &relu));
        QVERIFY(relu);
        QCOMPARE(read(state.fichier_clefs), replacement);
    }
};

QTEST_GUILESS_MAIN(TestKeyStore)
#include "tst_key_store.moc"
