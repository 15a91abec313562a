// The limits pre-scan against vmime's own way of reading a mail, and the
// reader process with its child of each mail: the answer, the bounds, what
// they hold, and a reader killed.
#include "server/vmime/bounded_mail_reader.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/mail_file_reader.h"
#include "server/vmime/mail_limits.h"
#include "tests/support/child_processes.h"
#include "tests/support/hostile_mails.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QByteArray kHead = "From: mallory@example.org\r\nSubject: Actions\r\n";
// Opened without close-on-exec before the reader is forked: it must not have it.
int g_leaked = -1;

// "Max cpu time 7 8 seconds" and the like, by the limit's name.
QMap<QString, QString> limits(pid_t pid)
{
    QMap<QString, QString> found;
    QFile file(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return found;
    static const QRegularExpression line(QStringLiteral("^(Max [a-z ]+?)\\s{2,}(\\S+)\\s+(\\S+)"));
    for (const QByteArray &text : file.readAll().split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(text));
        if (m.hasMatch())
            found.insert(m.captured(1), m.captured(2) + u' ' + m.captured(3));
    }
    return found;
}

// The reader holds its standard descriptors, on /dev/null but its error
// output, its socket, and the socket to its child in reserve when there is
// one; nothing the program had open. Empty when so, else what it holds.
QString readerDescriptorsFault(pid_t reader)
{
    QMap<int, QString> fds = openDescriptors(reader);
    QString all;
    for (auto it = fds.cbegin(); it != fds.cend(); ++it)
        all += QString::number(it.key()) + u'=' + it.value() + u' ';
    const auto socket = [](const QString &fd) { return fd.startsWith(QStringLiteral("socket:")); };
    if (fds.size() == 5 && fds.lastKey() > 3 && socket(fds.last()))
        fds.remove(fds.lastKey());
    const bool ok = fds.keys() == QList<int>{0, 1, 2, 3} &&
                    fds.value(0) == QStringLiteral("/dev/null") &&
                    fds.value(1) == QStringLiteral("/dev/null") && socket(fds.value(3));
    return ok ? QString() : all;
}
// Checked once it has settled: putting a child in reserve holds both ends of
// its socket for a moment.
#define CHECK_READER_DESCRIPTORS(reader)                                                           \
    QTRY_VERIFY2_WITH_TIMEOUT(readerDescriptorsFault(reader).isEmpty(),                            \
                              qPrintable(readerDescriptorsFault(reader)), 5000)

void addDataFiles()
{
    const QDir dir(QStringLiteral(TEST_DATA_DIR));
    for (const QString &name : dir.entryList({QStringLiteral("*.eml")}, QDir::Files)) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(name)) << file.readAll() << QString();
    }
}
} // namespace

class TestBoundedReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    QString write(const QByteArray &mail)
    {
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".eml"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(mail) != mail.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void preScanReadsAsVmime_data()
    {
        QTest::addColumn<QByteArray>("mail");
        QTest::addColumn<QString>("refus"); // a part of the reason, empty when it passes
        // Both ran vmime for minutes: the first Content-Type is the one it reads,
        // and it takes blanks between the dashes and the boundary.
        QTest::newRow("multipart, then text/plain, 20,000 deep")
            << hostile_mails::nested(20000, {}, true) << "Content-Type dans un même bloc";
        QTest::newRow("a blank after the dashes, 20,000 deep")
            << hostile_mails::nested(20000, " ") << "niveaux";
        QTest::newRow("a tab after the dashes, at the nesting limit")
            << hostile_mails::nested(mail_limits::kProfondeurMime, "\t") << QString();
        // A line of blanks after a line that is no field ends vmime's header.
        QTest::newRow("header ended by blanks, then a second Content-Type")
            << kHead + "Content-Type: multipart/mixed; boundary=\"b0\"\r\nno field\r\n \r\n" +
                   "Content-Type: text/plain\r\n\r\n" +
                   hostile_mails::nested(100).mid(kHead.size() + 19)
            << "niveaux";
        QTest::newRow("multipart without boundary parameter")
            << kHead + "Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\ny\r\n--x--\r\n"
            << "sans séparation déclarée";
        // vmime reads a multipart without boundary line as a part, header included.
        QByteArray unbounded = kHead;
        for (int i = 0; i < 20000; ++i)
            unbounded +=
                "Content-Type: multipart/mixed; boundary=a" + QByteArray::number(i) + "z\r\n\r\n";
        QTest::newRow("multiparts without boundary lines, 20,000 deep")
            << unbounded << "sans ligne de séparation";
        // vmime reads the rest of the line as the first header line of the part.
        QTest::newRow("boundary line with more after it")
            << kHead +
                   "Content-Type: multipart/mixed; boundary=b0\r\n\r\n--b0-x: y\r\n \r\n\r\nz\r\n"
            << "suivie d'autres caractères";
        addDataFiles();
    }
    void preScanReadsAsVmime()
    {
        QFETCH(QByteArray, mail);
        QFETCH(QString, refus);
        QBuffer device(&mail);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const std::optional<QString> reason = mail_limits::depassement(device);
        if (refus.isEmpty())
            QVERIFY2(!reason, qPrintable(reason.value_or(QString())));
        else
            QVERIFY2(reason && reason->contains(refus), qPrintable(reason.value_or(QString())));
    }

    void childAnswersAsTheReader_data()
    {
        QTest::addColumn<QByteArray>("mail");
        QTest::addColumn<QString>("unused");
        addDataFiles();
        QTest::newRow("beyond the limits") << hostile_mails::nested(20000, " ") << QString();
        QTest::newRow("tabs, line ends and percent signs in the header")
            << QByteArray("Authentication-Results: mx; dmarc=pass\r\n\t(50%; x)\r\n"
                          "From: a@example.org\r\nSubject: 100%\tsur\r\n deux\r\n"
                          "Message-ID: <1%0A@x>\r\nReferences: <a@x> <b@x>\r\n\r\nCode: 5%;\r\n")
            << QString();
    }
    // Every field the server uses crosses the pipe intact.
    void childAnswersAsTheReader()
    {
        QFETCH(QByteArray, mail);
        const QString path = write(mail);
        const std::optional<Pop3Message> local = read_mail_file(path);
        const lecture_bornee::Resultat child = lecture_bornee::lire(path, {});
        QVERIFY(local);
        QVERIFY2(child.mail, qPrintable(child.echec));
        const auto fields = [](const Pop3Message &m) {
            return QStringList{m.Subject,         m.Body,
                               m.Sender.Address,  QString::number(m.Automatic),
                               m.AutomaticReason, m.NoAddressReason,
                               m.MessageId,       m.References.join(' '),
                               m.Unreadable,      m.AuthenticationResults,
                               m.FromDomain};
        };
        QCOMPARE(fields(*child.mail), fields(*local));
    }

    void boundsStopTheChild_data()
    {
        QTest::addColumn<int>("cpu");
        QTest::addColumn<int>("delay");
        QTest::newRow("processor time") << 1 << 600000;
        QTest::newRow("wall clock") << 600 << 500;
    }
    // A mail within every count limit that vmime needs half a minute for: the
    // child is stopped and the mail comes back with what its header says.
    void boundsStopTheChild()
    {
        QFETCH(int, cpu);
        QFETCH(int, delay);
        const QString path = write(hostile_mails::unclosedSiblings(2400));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!mail_limits::depassement(file)); // the pre-scan alone lets it through
        const lecture_bornee::Resultat result = lecture_bornee::lire(path, {cpu, delay});
        QVERIFY2(result.mail, qPrintable(result.echec));
        QVERIFY2(result.mail->Unreadable.contains(QStringLiteral("au-delà de ses limites")),
                 qPrintable(result.mail->Unreadable));
        QCOMPARE(result.mail->Sender.Address, QStringLiteral("mallory@example.org"));
        QVERIFY(result.mail->Body.isEmpty());
    }

    // The reader and the child of a mail in hand, seen from outside: their
    // descriptors (the test holds one without close-on-exec) and the child's
    // limits, those asked for.
    void readerAndChildHoldOnlyTheirOwn()
    {
        QVERIFY(g_leaked > STDERR_FILENO);
        const pid_t reader = lecture_bornee::pid_lecteur();
        QVERIFY(reader > 0);
        CHECK_READER_DESCRIPTORS(reader);
        if (QTest::currentTestFailed())
            return;

        QMap<int, QString> fds;
        QMap<QString, QString> seen;
        const QString mail = write(hostile_mails::unclosedSiblings(2400));
        const QDeadlineTimer deadline(20000);
        const lecture_bornee::Resultat result =
            lecture_bornee::lire(mail, {7, 20000, 512LL * 1024 * 1024}, [&] {
                for (const pid_t child : childProcesses(reader)) {
                    fds = openDescriptors(child);
                    seen = limits(child);
                }
                // Seen once settled: its answer's pipe in the socket's place,
                // and whatever it opened itself to read the mail.
                fds.removeIf([&mail](const auto &fd) { return fd.value() == mail; });
                return (fds.size() == 4 && fds.value(3).startsWith(QStringLiteral("pipe:")) &&
                        fds.value(2) == QStringLiteral("/dev/null")) ||
                       deadline.hasExpired();
            });
        QCOMPARE(result.echec, QStringLiteral("lecture du message interrompue"));
        QCOMPARE(fds.keys(), (QList<int>{0, 1, 2, 3}));
        for (const int fd : {0, 1, 2})
            QCOMPARE(fds.value(fd), QStringLiteral("/dev/null"));
        QVERIFY2(fds.value(3).startsWith(QStringLiteral("pipe:")), qPrintable(fds.value(3)));
        QCOMPARE(seen.value(QStringLiteral("Max cpu time")), QStringLiteral("7 8"));
        QCOMPARE(seen.value(QStringLiteral("Max core file size")), QStringLiteral("0 0"));
        if (lecture_bornee::kMemoireBornee)
            QCOMPARE(seen.value(QStringLiteral("Max address space")),
                     QStringLiteral("536870912 536870912"));
    }

    // The child kept in reserve for the next mail may be gone when it comes:
    // the reader forks one for that mail, and keeps another in reserve.
    void childInReserveLost()
    {
        const pid_t reader = lecture_bornee::pid_lecteur();
        QTRY_COMPARE(childProcesses(reader).size(), 1);
        const pid_t reserve = childProcesses(reader).constFirst();
        QCOMPARE(::kill(reserve, SIGKILL), 0);
        const lecture_bornee::Resultat result = lecture_bornee::lire(write(kHead), {});
        QVERIFY2(result.mail, qPrintable(result.echec));
        QCOMPARE(result.mail->Sender.Address, QStringLiteral("mallory@example.org"));
        QCOMPARE(result.panne, QString());
        QCOMPARE(lecture_bornee::pid_lecteur(), reader);
        QTRY_VERIFY(childProcesses(reader).size() == 1 &&
                    childProcesses(reader).constFirst() != reserve);
    }

    void readerKilledIsStartedAgain_data()
    {
        QTest::addColumn<bool>("duringARead");
        QTest::newRow("between two mails") << false;
        QTest::newRow("while its child reads one") << true;
    }
    // A reader killed is this program run again as the reader, said once,
    // and the mail in hand is read by the new one.
    void readerKilledIsStartedAgain()
    {
        QFETCH(bool, duringARead);
        const pid_t killed = lecture_bornee::pid_lecteur();
        QVERIFY(killed > 0);
        lecture_bornee::Resultat result;
        if (duringARead) {
            result = lecture_bornee::lire(write(hostile_mails::unclosedSiblings(2400)), {1, 60000},
                                          [killed] {
                                              if (!childProcesses(killed).isEmpty())
                                                  ::kill(killed, SIGKILL);
                                              return false;
                                          });
            QVERIFY2(result.mail &&
                         result.mail->Unreadable.contains(QStringLiteral("au-delà de ses limites")),
                     qPrintable(result.echec));
        } else {
            QCOMPARE(::kill(killed, SIGKILL), 0);
            result = lecture_bornee::lire(write(kHead), {});
            QVERIFY2(result.mail, qPrintable(result.echec));
            QCOMPARE(result.mail->Sender.Address, QStringLiteral("mallory@example.org"));
        }
        const pid_t reader = lecture_bornee::pid_lecteur();
        QVERIFY(reader > 0 && reader != killed);
        QCOMPARE(result.panne,
                 QStringLiteral("le lecteur des messages (processus %1) s'est arrêté (tué par le "
                                "signal 9) ; un nouveau lecteur est lancé (processus %2)")
                     .arg(killed)
                     .arg(reader));

        // Said once: the next mail and the next check say nothing more.
        const lecture_bornee::Resultat next = lecture_bornee::lire(write(kHead), {});
        QVERIFY2(next.mail, qPrintable(next.echec));
        QCOMPARE(next.panne, QString());
        const lecture_bornee::EtatLecteur etat = lecture_bornee::verifier_lecteur();
        QVERIFY(etat.pret);
        QCOMPARE(etat.panne, QString());
        QCOMPARE(lecture_bornee::pid_lecteur(), reader);
        QCOMPARE(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(reader)),
                 QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
        CHECK_READER_DESCRIPTORS(reader);
    }
};

int main(int argc, char *argv[])
{
    // Above the socket's place, where a descriptor would stay unless closed.
    g_leaked = ::dup2(::open("/dev/null", O_RDONLY), 40);
    lecture_bornee::demarrer_lecteur();
    QCoreApplication app(argc, argv);
    TestBoundedReader test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_bounded_reader.moc"
