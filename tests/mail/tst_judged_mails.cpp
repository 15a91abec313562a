// The record of judged mails: identities, lookup after a restart, bounds and
// the file on disk.
#include "server/mail/judged_mails.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestJudgedMails : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path() const { return dir.filePath("judged.txt"); }
    const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void identity_data()
    {
        QTest::addColumn<QString>("uidl");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QString>("expected");
        const QByteArray folded =
            "Subject: x\r\nMessage-Id:\r\n <a.b@c>\r\n\r\nMessage-ID: <body@x>\r\n";
        QTest::newRow("uidl first") << "UID-1" << folded << "uidl UID-1";
        QTest::newRow("folded message-id with size") << "" << folded << "mid a.b@c 42";
        QTest::newRow("only the header block counts")
            << "" << QByteArray("Subject: x\n\nMessage-ID: <body@x>\n") << "sha * 42";
    }
    void identity()
    {
        QFETCH(QString, uidl);
        QFETCH(QByteArray, headers);
        QFETCH(QString, expected);
        const QString got = JudgedMails::identite(uidl, headers, 42);
        QVERIFY2(QRegularExpression(QRegularExpression::wildcardToRegularExpression(expected))
                     .match(got)
                     .hasMatch(),
                 qPrintable(got));
    }

    void mailsWithNeitherIdAreNotTakenForOneAnother()
    {
        const QString a = JudgedMails::identite("", "Date: 1\r\n\r\n", 100);
        const QString b = JudgedMails::identite("", "Date: 2\r\n\r\n", 100);
        QVERIFY(a != b);
        QCOMPARE(a, JudgedMails::identite("", "Date: 1\r\n\r\n", 100));
    }

    void recordSurvivesARestartAndIsPrivate()
    {
        JudgedMails record(path());
        QVERIFY(record.charger()); // no file yet: an empty record
        // Ids come from the sender: a tab or a line end must not break the file.
        const QString hostile = "mid x\ty\r\nuidl B 7";
        QVERIFY(record.enregistrer("uidl A", "a@x", t0));
        QVERIFY(record.enregistrer(hostile, "x\ty", t0));
        QVERIFY(record.contient("uidl A"));

        JudgedMails after(path());
        QVERIFY(after.charger());
        QCOMPARE(after.taille(), 2);
        QVERIFY(after.contient("uidl A"));
        QVERIFY(after.contient(hostile));
        QVERIFY(!after.contient("uidl B 7"));
        const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                            QFileDevice::ReadOther | QFileDevice::WriteOther;
        QCOMPARE(QFileInfo(path()).permissions() & others, QFileDevice::Permissions());
    }

    void boundedByAgeAndCount()
    {
        JudgedMails record(path());
        QVERIFY(record.enregistrer("uidl old", "", t0));
        QVERIFY(record.enregistrer("uidl recent", "", t0.addDays(20)));
        QVERIFY(record.enregistrer("uidl new", "", t0.addDays(31)));
        QVERIFY(!record.contient("uidl old"));
        QVERIFY(record.contient("uidl recent"));

        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (int i = 0; i < JudgedMails::kMaxEntrees; ++i)
            f.write(t0.toString(Qt::ISODate).toLatin1() + "\tuidl%20" + QByteArray::number(i) +
                    "\t\n");
        f.write("damaged line\n");
        f.close();
        JudgedMails full(path());
        QVERIFY(full.charger());
        QCOMPARE(full.taille(), JudgedMails::kMaxEntrees);
        QVERIFY(full.enregistrer("uidl last", "", t0));
        QCOMPARE(full.taille(), JudgedMails::kMaxEntrees);
        QVERIFY(!full.contient("uidl 0"));
        QVERIFY(full.contient("uidl 1"));
        QVERIFY(full.contient("uidl last"));
    }

    void readingAcrossARestart_data()
    {
        QTest::addColumn<QString>("steps"); // before the restart: l read, e recorded, t over
        QTest::newRow("stopped while it was read") << "l";
        QTest::newRow("stopped while it was judged") << "le";
        QTest::newRow("judged before the reading was recorded") << "e";
        QTest::newRow("its judgement over") << "let";
    }
    // A mail whose reading never ended is never read again; one read and
    // recorded is "being judged", as before.
    void readingAcrossARestart()
    {
        QFETCH(QString, steps);
        {
            JudgedMails record(path());
            QVERIFY(record.charger());
            for (const QChar step : steps) {
                if (step == u'l')
                    QCOMPARE(record.commencer_lecture("uidl A", t0), JudgedMails::Lecture::Lire);
                else if (step == u'e')
                    QVERIFY(record.enregistrer("uidl A", "a@x", t0));
                else
                    QVERIFY(record.terminer("uidl A"));
            }
            QCOMPARE(record.taille(), 1);
        }
        JudgedMails restarted(path());
        QVERIFY(restarted.charger());
        QCOMPARE(restarted.commencer_lecture("uidl A", t0),
                 steps == "l" ? JudgedMails::Lecture::Interrompue : JudgedMails::Lecture::Lire);
        QCOMPARE(restarted.en_cours("uidl A"), steps.endsWith(u'e'));
        QCOMPARE(restarted.termine("uidl A"), steps.endsWith(u't'));
        QCOMPARE(restarted.taille(), 1);
    }

    void entryThatCannotBeWrittenDoesNotCount()
    {
        // A folder in the record's place: no write can land, whatever the rights.
        QVERIFY(QDir().mkdir(path()));
        JudgedMails record(path());
        QString error;
        QVERIFY(!record.enregistrer("uidl A", "", t0, &error));
        QVERIFY(error.contains(path()));
        QVERIFY(!record.contient("uidl A"));
        QCOMPARE(record.commencer_lecture("uidl A", t0), JudgedMails::Lecture::NonEnregistree);
        QVERIFY(!record.contient("uidl A"));
        QVERIFY(QDir().rmdir(path()));
    }
};

QTEST_GUILESS_MAIN(TestJudgedMails)
#include "tst_judged_mails.moc"
