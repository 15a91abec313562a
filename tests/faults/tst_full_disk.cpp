// A full file system: every file the server writes keeps its old content whole,
// the failure is told, and the writes succeed again once there is room.
#include "common/command_list_file.h"
#include "platform/file_copy.h"
#include "server/frame/config.h"
#include "server/frame/journal.h"
#include "server/keys/key_store.h"
#include "server/mail/judged_mails.h"
#include "tests/support/small_disk.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestFullDisk : public QObject
{
    Q_OBJECT

    SmallDisk disk;

    static QByteArray read(const QString &path) { return test_files::lire(path); }
    static void put(const QString &path, const QByteArray &bytes)
    {
        QVERIFY(test_files::ecrire(path, bytes));
    }
    QStringList files() const { return QDir(disk.path()).entryList(QDir::Files | QDir::Hidden); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(disk.monter());
        qInfo("full disk made with %s", qPrintable(disk.mode()));
    }
    void init()
    {
        disk.vider();
        for (const QString &name : files())
            QVERIFY(QFile::remove(disk.path() + name));
    }
    void cleanup() { disk.vider(); }

    void keyFileStaysWholeThroughUseAndShutDown()
    {
        ServerState state;
        state.rep_appli = disk.path();
        QVERIFY(key_store::cre_clefs(state));
        QVERIFY(key_store::charger_clefs(state));
        const QByteArray before = read(state.fichier_clefs);
        const QString first = state.tab_clefs.at(1);

        QVERIFY(disk.remplir());
        QCOMPARE(key_store::verif_clef(state, first), key_store::Verification::NonEnregistree);
        QCOMPARE(read(state.fichier_clefs), before);
        QVERIFY(!key_store::ecrire_clefs(state)); // the write-back at shut-down
        QVERIFY(!key_store::cre_clefs(state));
        QCOMPARE(read(state.fichier_clefs), before);
        QCOMPARE(state.tab_clefs.at(2), QString(before.split('\r').at(1).trimmed()));

        disk.vider();
        QVERIFY(key_store::ecrire_clefs(state));
        QCOMPARE(read(state.fichier_clefs), before.mid(before.indexOf('\n') + 1));
        QCOMPARE(files(), QStringList("clefs.dat")); // no temporary file left behind
    }

    void otherFilesStayWholeAndFailuresAreTold_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("journal") << "journal_2026-03.txt";
        QTest::newRow("pop3.ini") << "pop3.ini";
        QTest::newRow("filebat.dat") << "filebat.dat";
        QTest::newRow("copy") << "copie.dat";
        QTest::newRow("judged mails") << "judged.txt";
    }
    void otherFilesStayWholeAndFailuresAreTold()
    {
        QFETCH(QString, file);
        const QString path = disk.path() + file;
        // 4,090 bytes: on the tmpfs the entry fills its page and needs another,
        // so the append is cut short half-way, as on a real disk.
        const QByteArray before = QByteArray(4088, 'o') + "\r\n";
        put(path, before);
        put(disk.path() + "source.dat", "new content\r\n");
        ServerState state;
        state.fichier_journal = path;
        state.fichier_ini = path;
        JudgedMails record(path);

        const auto write = [&](QString *error) -> bool {
            if (file.startsWith("journal"))
                return journal::ecrire_journal(state, QString(200, u'j'),
                                               QDateTime::currentDateTime(), error);
            if (file == "pop3.ini") {
                MailSettingsFields fields;
                fields.login = "x";
                fields.duree = "60";
                return config::sauve_config_mail(state, fields);
            }
            if (file == "filebat.dat")
                return fichier_commandes::ecrire(path, {"a.bat", "b.bat"});
            if (file == "copie.dat")
                return platform::copier_remplacer(disk.path() + "source.dat", path);
            return record.enregistrer("uidl 1", "", QDateTime::currentDateTimeUtc(), error);
        };

        QVERIFY(disk.remplir());
        QString error;
        QVERIFY(!write(&error));
        QCOMPARE(read(path), before);
        if (file.startsWith("journal") || file == "judged.txt")
            QVERIFY2(error.startsWith("écriture impossible de "), qPrintable(error));
        QVERIFY(!record.contient("uidl 1"));
        QCOMPARE(files().size(), 2);

        disk.vider();
        QVERIFY(write(nullptr));
        QVERIFY(read(path) != before);
    }
};

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_full_disk.moc"
