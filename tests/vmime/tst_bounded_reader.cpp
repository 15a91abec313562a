// The limits pre-scan against vmime's own way of reading a mail, and the
// reader's child process: its answer, its bounds, what it inherits.
#include "server/vmime/bounded_mail_reader.h"
#include "server/vmime/mail_file_reader.h"
#include "server/vmime/mail_limits.h"
#include "tests/support/hostile_mails.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QByteArray kHead = "From: mallory@example.org\r\nSubject: Actions\r\n";

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
        const lecture_bornee::Resultat child =
            lecture_bornee::lire(lecture_bornee::programme_par_defaut(), path, {});
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
        const lecture_bornee::Resultat result =
            lecture_bornee::lire(lecture_bornee::programme_par_defaut(), path, {cpu, delay});
        QVERIFY2(result.mail, qPrintable(result.echec));
        QVERIFY2(result.mail->Unreadable.contains(QStringLiteral("au-delà de ses limites")),
                 qPrintable(result.mail->Unreadable));
        QCOMPARE(result.mail->Sender.Address, QStringLiteral("mallory@example.org"));
        QVERIFY(result.mail->Body.isEmpty());
    }

    // A program in the reader's place reports what it was given: no descriptor
    // beyond the standard three (the test holds one without close-on-exec),
    // and the limits asked for.
    void childInheritsNoDescriptorAndHasItsLimits()
    {
        const QString probe = write(
            "#!/usr/bin/python3\nimport os, resource\n"
            "fds = [str(fd) for fd in range(3, 1024) if os.path.exists('/proc/self/fd/%d' % fd)]\n"
            "cpu = resource.getrlimit(resource.RLIMIT_CPU)[0]\n"
            "mem = resource.getrlimit(resource.RLIMIT_AS)[0]\n"
            "print('tramelon-analyse 1\\nSubject %s\\nBody cpu=%d as=%d\\nfin' % "
            "(','.join(fds), cpu, mem))\n");
        QVERIFY(QFile::setPermissions(probe, QFile::ReadOwner | QFile::ExeOwner));
        const int leaked = ::open(QFile::encodeName(probe).constData(), O_RDONLY);
        QVERIFY(leaked > STDERR_FILENO);
        const lecture_bornee::Resultat result =
            lecture_bornee::lire(probe, write(kHead), {7, 20000, 512LL * 1024 * 1024});
        ::close(leaked);
        QVERIFY2(result.mail, qPrintable(result.echec));
        QCOMPARE(result.mail->Subject, QString());
        if (lecture_bornee::kMemoireBornee)
            QCOMPARE(result.mail->Body, QStringLiteral("cpu=7 as=536870912"));
        else // the sanitizers' build: the limit the test runner has, unchanged
            QVERIFY2(result.mail->Body.startsWith(QStringLiteral("cpu=7 as=")) &&
                         !result.mail->Body.endsWith(QStringLiteral("=536870912")),
                     qPrintable(result.mail->Body));
    }
};

QTEST_GUILESS_MAIN(TestBoundedReader)
#include "tst_bounded_reader.moc"
