// clefs.dat and filebat.dat: what is read, what is written back, on disk.
#include "common/ansi_text.h"
#include "common/command_list_file.h"
#include "common/durable_file.h"
#include "common/key_file.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestSharedFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString path(const QString &name) const { return dir.filePath(name); }

    static void put(const QString &file, const QByteArray &bytes)
    {
        QVERIFY(test_files::ecrire(file, bytes));
    }
    static QByteArray get(const QString &file) { return test_files::lire(file); }

private Q_SLOTS:
    void readerTakesCrLfAndBareLf()
    {
        put(path("mixed.txt"), "AAA\r\nBBB\nCCC\r\n\r\nEEE");
        const auto lines = ansi::readLines(path("mixed.txt"));
        QVERIFY(lines);
        QCOMPARE(*lines, QStringList({"AAA", "BBB", "CCC", "", "EEE"}));
    }

    void missingFileIsNothing()
    {
        QVERIFY(!fichier_clefs::lire(path("none.dat"), 100));
        QStringList slots{"keep"};
        QVERIFY(!fichier_clefs::charger(path("none.dat"), slots, 103));
        QCOMPARE(slots, QStringList{"keep"}); // left as it was
    }

    void keyRoundTripDropsEmptySlotsAndLinesBeyond100()
    {
        QByteArray content;
        for (int i = 1; i <= 103; ++i)
            content += (i == 5 ? QByteArray() : "KEY" + QByteArray::number(i)) + "\r\n";
        put(path("clefs.dat"), content);

        QStringList slots;
        const auto count = fichier_clefs::charger(path("clefs.dat"), slots, 103);
        QCOMPARE(count, 102); // slots 1 to 102: line 103 has no slot
        QCOMPARE(slots.size(), 103);
        QVERIFY(slots.at(0).isEmpty());
        QCOMPARE(slots.at(1), QString("KEY1"));
        QVERIFY(slots.at(5).isEmpty());
        QCOMPARE(slots.at(102), QString("KEY102"));

        slots[7].clear(); // a used key
        QVERIFY(fichier_clefs::ecrire(path("out.dat"), slots));
        QByteArray expected;
        for (int i = 1; i <= 100; ++i)
            if (i != 5 && i != 7)
                expected += "KEY" + QByteArray::number(i) + "\r\n";
        QCOMPARE(get(path("out.dat")), expected);
    }

    void allKeysUsedGivesEmptyFile()
    {
        put(path("used.dat"), "OLD\r\n");
        QVERIFY(fichier_clefs::ecrire(path("used.dat"), QStringList(103)));
        QCOMPARE(get(path("used.dat")), QByteArray());
        QStringList slots;
        QCOMPARE(fichier_clefs::charger(path("used.dat"), slots, 103), 0);
    }

    void writeIntoMissingFolderFailsAndKeepsNothingHalfDone()
    {
        QVERIFY(!fichier_clefs::ecrire(path("nofolder/clefs.dat"), {"", "A"}));
        put(path("keep.dat"), "A\r\nB\r\n");
        QFile::setPermissions(path("."), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const bool written = fichier_clefs::ecrire(path("keep.dat"), {"", "C"});
        QFile::setPermissions(path("."), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner);
        if (written)
            QSKIP("running with rights that ignore folder modes");
        QCOMPARE(get(path("keep.dat")), QByteArray("A\r\nB\r\n"));
    }

    // A secret's copy is private from its creation, whatever the umask: with
    // umask 0 nothing ever sits on the disk readable by others.
    void filesBeingWrittenArePrivateFromTheirCreation()
    {
        const mode_t before = ::umask(0);
        const auto restore = qScopeGuard([before] { ::umask(before); });
        QDir folder(path("secret"));
        QVERIFY(folder.mkpath("."));
        {
            durable::Ecriture file(folder.filePath("mail.eml"));
            QVERIFY(file.ouvrir());
            const QFileInfoList temps = folder.entryInfoList(QDir::Files);
            QCOMPARE(temps.size(), 1);
            QCOMPARE(temps.first().permissions() &
                         (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                          QFileDevice::WriteGroup | QFileDevice::WriteOther),
                     QFileDevice::Permissions());
        }
        QVERIFY(folder.entryList(QDir::Files).isEmpty()); // left unfinished: nothing stays
        QVERIFY(durable::remplacer(folder.filePath("jeton"), "x\n"));
        QCOMPARE(QFile::permissions(folder.filePath("jeton")) & 0x0077, QFileDevice::Permissions());
        QCOMPARE(folder.entryList(QDir::Files), QStringList{"jeton"});
    }

    void commandListSortedIgnoringCaseWithExtensions()
    {
        QTemporaryDir actions;
        for (const char *name : {"zeta.bat", "Alpha.BAT", "beta.bat", "notes.txt", "run.bat.old"})
            put(actions.filePath(name), "echo\r\n");
        QDir(actions.path()).mkdir("sub.bat");
        const auto names = fichier_commandes::lister_batch(actions.path());
        QVERIFY(names);
        QCOMPARE(*names, QStringList({"Alpha.BAT", "beta.bat", "zeta.bat"}));

        QVERIFY(fichier_commandes::ecrire(path("filebat.dat"), *names));
        QCOMPARE(get(path("filebat.dat")), QByteArray("Alpha.BAT\r\nbeta.bat\r\nzeta.bat\r\n"));
        QCOMPARE(*fichier_commandes::lire(path("filebat.dat")), *names);

        QVERIFY(fichier_commandes::ecrire(path("empty.dat"), {}));
        QCOMPARE(get(path("empty.dat")), QByteArray());
        QVERIFY(!fichier_commandes::lister_batch(path("no-such-folder")));
    }
};

QTEST_GUILESS_MAIN(TestSharedFiles)
#include "tst_shared_files.moc"
