// A key file the operator replaces while the server runs: the new file rules.
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/mail/sequenceur.h"
#include "tests/support/fake_mail.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QByteArray kRelu("Fichier clefs modifié sur le disque : relu");

QByteArray clef(char c) { return QByteArray(12, c); }
QByteArray fichier(const QByteArray &lettres)
{
    QByteArray bytes;
    for (char c : lettres)
        bytes += (c == '-' ? QByteArray() : clef(c)) + "\r\n";
    return bytes;
}

Pop3Message commande(char code)
{
    Pop3Message m;
    m.Subject = QStringLiteral("Actions");
    m.Body = QStringLiteral("Commande:run.bat;\r\nCode:%1;").arg(QString::fromLatin1(clef(code)));
    m.Sender.Address = QStringLiteral("user@example.org");
    m.raw = "Subject: Actions\r\n\r\n" + m.Body.toUtf8() + "\r\n";
    return m;
}

} // namespace

class TestKeyFileReplaced : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Serveur> serveur;
    FakePop3Session *session = nullptr;
    int lancements = 0;
    int fins = 0;

    QString cle_dat() const { return dir->path() + "/clefs.dat"; }
    QByteArray journal() const { return test_files::lire(serveur->state().fichier_journal); }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            serveur->sequenceur().tick();
    }
    // Runs one command mail through a whole cycle; true when its command was launched.
    bool recoit(char code)
    {
        const int avant = lancements;
        session->mailbox = {commande(code)};
        ticks(60);
        return lancements > avant;
    }

    // The ways an operator puts a file in place.
    void remplacer(const QString &maniere, const QByteArray &bytes)
    {
        if (maniere == "rename") {
            QVERIFY(test_files::ecrire(cle_dat() + ".new", bytes));
            QVERIFY(::rename(QFile::encodeName(cle_dat() + ".new"), QFile::encodeName(cle_dat())) ==
                    0);
        } else if (maniere == "in place, same size and time") {
            struct stat avant {
            };
            QVERIFY(::stat(QFile::encodeName(cle_dat()), &avant) == 0);
            QCOMPARE(qint64(avant.st_size), qint64(bytes.size()));
            QVERIFY(test_files::ecrire(cle_dat(), bytes));
            const struct timespec temps[2] = {avant.st_atim, avant.st_mtim};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(cle_dat()), temps, 0) == 0);
        } else if (maniere == "deleted") {
            QVERIFY(QFile::remove(cle_dat()));
        }
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        const QString folder = dir->path() + u'/';
        platform::installer_gestionnaire_messages([](const QString &) {});
        QVERIFY(QDir(folder).mkdir("actions"));
        QVERIFY(test_files::ecrire(folder + "actions/run.bat", "true\n"));
        QVERIFY(test_files::ecrire(folder + "pop3.ini",
                                   "[mail]\r\nrepondre=tramelon@example.org\r\n[TIMER]\r\n"
                                   "relance=60\r\n[PATH]\r\nrepertoire_commande=" +
                                       folder.toUtf8() + "actions/\r\n"));
        QVERIFY(test_files::ecrire(cle_dat(), fichier("ABC")));
        lancements = 0;
        fins = 0;
        auto s = std::make_unique<FakePop3Session>();
        session = s.get();
        Environnement environnement = Environnement::systeme();
        environnement.lanceur = [this](const QString &, const QString &) {
            ++lancements;
            return 42;
        };
        serveur = std::make_unique<Serveur>(
            folder, std::move(s), std::make_unique<FakeSmtpSender>(), [this](int) { ++fins; },
            environnement);
        QVERIFY(serveur->demarrer());
        serveur->T_sequenceur().stop();
        QVERIFY(recoit('A')); // one key already used in this run
        QCOMPARE(test_files::lire(cle_dat()), fichier("BC"));
    }
    void cleanup()
    {
        serveur.reset();
        platform::installer_gestionnaire_messages({});
    }

    void nextCodeFollowsTheFileOnDisk_data()
    {
        QTest::addColumn<QString>("maniere");
        QTest::addColumn<QByteArray>("nouveau"); // the operator's file, "-" an empty line
        QTest::addColumn<char>("code");
        QTest::addColumn<bool>("lance");
        QTest::addColumn<QByteArray>("apres");   // the file after the mail
        QTest::addColumn<QByteArray>("journal"); // the end of the line journalled, empty for none

        QTest::newRow("unchanged")
            << "" << QByteArray() << 'B' << true << QByteArray("C") << QByteArray();
        QTest::newRow("revoked by a new file")
            << "rename" << QByteArray("DE") << 'B' << false << QByteArray("DE")
            << QByteArray(", le code reçu n'y figure pas");
        QTest::newRow("new key, struck in the new file")
            << "rename" << QByteArray("D-E") << 'E' << true << QByteArray("D")
            << QByteArray(" avant d'y rayer la clef utilisée");
        QTest::newRow("key used earlier, put back by the operator")
            << "rename" << QByteArray("AF") << 'A' << true << QByteArray("F")
            << QByteArray(" avant d'y rayer la clef utilisée");
        QTest::newRow("rewritten in place, same size and time")
            << "in place, same size and time" << QByteArray("BG") << 'C' << false
            << QByteArray("BG") << QByteArray(", le code reçu n'y figure pas");
        QTest::newRow("deleted: written anew from memory")
            << "deleted" << QByteArray() << 'B' << true << QByteArray("C") << QByteArray();
    }

    void nextCodeFollowsTheFileOnDisk()
    {
        QFETCH(QString, maniere);
        QFETCH(QByteArray, nouveau);
        QFETCH(char, code);
        QFETCH(bool, lance);
        QFETCH(QByteArray, apres);
        QFETCH(QByteArray, journal);

        remplacer(maniere, fichier(nouveau));
        QCOMPARE(recoit(code), lance);
        QCOMPARE(test_files::lire(cle_dat()), fichier(apres));
        if (journal.isEmpty())
            QVERIFY(!this->journal().contains(kRelu));
        else
            QVERIFY2(this->journal().contains(kRelu + journal + "\r\n"),
                     this->journal().constData());
        // Never twice: the code just used is refused from now on.
        if (lance)
            QVERIFY(!recoit(code));
    }

    void replacedBeforeShutDownIsLeftAsWritten()
    {
        // An empty line and a 101st line: a write from memory would drop both.
        QByteArray nouveau = fichier("H-");
        for (int i = 0; i < 100; ++i)
            nouveau += clef('J') + "\r\n";
        remplacer("rename", nouveau);
        serveur->fin();
        QCOMPARE(fins, 1);
        QCOMPARE(test_files::lire(cle_dat()), nouveau);
        QVERIFY2(journal().contains(kRelu + " et laissé tel quel à l'arrêt\r\n"),
                 journal().constData());
    }
};

QTEST_GUILESS_MAIN(TestKeyFileReplaced)
#include "tst_key_file_replaced.moc"
