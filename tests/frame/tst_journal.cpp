// The monthly journal and its lines.
#include "common/ansi_text.h"
#include "server/frame/journal.h"
#include "tests/support/test_files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestJournal : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    static QByteArray read(const QString &path) { return test_files::lire(path); }

private Q_SLOTS:
    void lineForm()
    {
        const QDateTime at(QDate(2026, 3, 5), QTime(14, 7, 9));
        // French under the tests' LC_ALL=C, as under a service without LANG.
        QCOMPARE(journal::ligne_journal({"texte"}, at),
                 "jeudi 5 mars 2026 * 14:07:09  :   *** texte");
        QCOMPARE(journal::ligne_journal({"x"}, QDateTime(QDate(2026, 12, 7), QTime(21, 50, 53))),
                 "lundi 7 décembre 2026 * 21:50:53  :   *** x");
        QCOMPARE(journal::horodatage(at), QString("05/03/26 14:07:09 "));
        QCOMPARE(journal::horodatage(QDateTime(QDate(2026, 12, 31), QTime(23, 5, 0))),
                 QString("31/12/26 23:05:00 "));
    }

    void entriesAppendAndFollowTheMonth()
    {
        ServerState state;
        state.rep_appli = dir.path() + u'/';
        const QDateTime march(QDate(2026, 3, 31), QTime(23, 59, 59));
        journal::initialise(state, march);
        QCOMPARE(state.fichier_journal, state.rep_appli + "journal_2026-03.txt");

        const QStringList accepted{" La commande : ", "run.bat",
                                   "a bien été lancée par l'automate"};
        QVERIFY(journal::ecrire_journal(state, accepted, march));
        QVERIFY(journal::ecrire_journal(state, "   modifications configuration mail", march));
        const QByteArray content = read(state.fichier_journal);
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.size(), 5); // three lines, one line, and nothing after the last CR LF
        QVERIFY(lines.at(0).endsWith(" La commande : \r"));
        QCOMPARE(lines.at(1), QByteArray("run.bat\r"));
        QCOMPARE(QString::fromLocal8Bit(lines.at(2)),
                 QString("a bien été lancée par l'automate\r"));
        QVERIFY(lines.at(3).endsWith("  :   ***    modifications configuration mail\r"));
        QVERIFY(content.endsWith("\r\n"));
        // It tells what ran and when: nobody else reads it.
        const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                           QFileDevice::ReadUser | QFileDevice::WriteUser;
        QCOMPARE(QFile::permissions(state.fichier_journal) & ~owner, QFileDevice::Permissions());

        // A tick in the same month changes nothing; the first one of April moves on.
        journal::verifie_mois(state, march);
        QCOMPARE(state.mois_journal, QString("2026-03"));
        const QDateTime april(QDate(2026, 4, 1), QTime(0, 0, 30));
        journal::verifie_mois(state, april);
        QCOMPARE(state.fichier_journal, state.rep_appli + "journal_2026-04.txt");
        QVERIFY(journal::ecrire_journal(state, "x", april));
        QVERIFY(QFile::exists(state.rep_appli + "journal_2026-04.txt"));
        QCOMPARE(read(state.rep_appli + "journal_2026-03.txt"), content);
    }

    // Whatever a mail put in a text, an entry stays one line of the file.
    void entryIsOneLine_data()
    {
        QTest::addColumn<QString>("texte");
        QTest::addColumn<QString>("ligne");
        QTest::newRow("forged entry after CR LF")
            << "run\r\nlundi 1 mars 2026 * 10:00:00  :   *** La commande :"
            << "run lundi 1 mars 2026 * 10:00:00  :   *** La commande :";
        QTest::newRow("bare CR, bare LF") << "a\rb\nc"
                                          << "a b c";
        QTest::newRow("breaks after a blank") << "a \r\n\r\nb"
                                              << "a b";
        QTest::newRow("Unicode breaks")
            << QString("a") + QChar(0x85) + "b" + QChar(0x2028) + "c" + QChar(0x2029) + "d"
            << "a b c d";
        QTest::newRow("other controls")
            << QString("a\tb\x1b[2Jc") + QChar(0x7f) + QChar(0x9b) << "a?b?[2Jc??";
        QTest::newRow("plain text unchanged") << "été ; * :"
                                              << "été ; * :";
    }

    void entryIsOneLine()
    {
        QFETCH(QString, texte);
        QFETCH(QString, ligne);
        QCOMPARE(journal::sur_une_ligne(texte), ligne);

        ServerState state;
        state.fichier_journal = dir.filePath("une-ligne.txt");
        QFile::remove(state.fichier_journal);
        QVERIFY(journal::ecrire_journal(state, texte, QDateTime::currentDateTime()));
        const QByteArray content = read(state.fichier_journal);
        QCOMPARE(content.count('\n'), 1);
        QVERIFY(content.endsWith(ansi::encode(ligne) + "\r\n"));
    }

    void unwritableJournalIsReported()
    {
        ServerState state;
        state.fichier_journal = dir.filePath("missing-folder/journal_2026-03.txt");
        QVERIFY(!journal::ecrire_journal(state, "x", QDateTime::currentDateTime()));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
