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

QList<QString> dataFiles()
{
    return QDir(QStringLiteral(TEST_DATA_DIR)).entryList({QStringLiteral("*.eml")}, QDir::Files);
}

QByteArray dataFile(const QString &name)
{
    QFile file(QStringLiteral(TEST_DATA_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Headers that nest depth multiparts without a single boundary line.
QByteArray withoutBoundaryLines(int depth)
{
    QByteArray mail = kHead;
    for (int i = 0; i < depth; ++i)
        mail +=
            "Content-Type: multipart/mixed; boundary=\"a" + QByteArray::number(i) + "z\"\r\n\r\n";
    return mail + "Content-Type: text/plain\r\n\r\nx\r\n";
}

} // namespace

class TestBoundedReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QByteArray &mail)
    {
        const QString path = m_dir.filePath(QString::number(++m_files) + QStringLiteral(".eml"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(mail) != mail.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    int m_files = 0;

private Q_SLOTS:
    void preScanReadsAsVmime_data();
    void preScanReadsAsVmime();
    void childAnswersAsTheReader_data();
    void childAnswersAsTheReader();
    void boundsStopTheChild_data();
    void boundsStopTheChild();
    void childInheritsNoDescriptorAndHasItsLimits();
};

void TestBoundedReader::preScanReadsAsVmime_data()
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
    QTest::newRow("folded Content-Type")
        << kHead + "Content-Type: multipart/mixed;\r\n boundary=b0\r\n"
                   "\r\n--b0\r\n\r\nx\r\n--b0--\r\n"
        << QString();
    QTest::newRow("multipart without boundary parameter")
        << kHead + "Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\ny\r\n--x--\r\n"
        << "sans séparation déclarée";
    // vmime reads a multipart without boundary line as a part, header included.
    QTest::newRow("multiparts without boundary lines, 20,000 deep")
        << withoutBoundaryLines(20000) << "sans ligne de séparation";
    // vmime reads the rest of the line as the first header line of the part.
    QTest::newRow("boundary line with more after it")
        << kHead + "Content-Type: multipart/mixed; boundary=b0\r\n\r\n--b0-x: y\r\n \r\n\r\nz\r\n"
        << "suivie d'autres caractères";
    QTest::newRow("a boundary that only starts like another")
        << kHead + "Content-Type: multipart/mixed; boundary=b1\r\n\r\n--b1\r\n"
                   "Content-Type: multipart/mixed; boundary=b10\r\n\r\n--b10\r\n\r\nx\r\n--b1--\r\n"
        << QString();
    for (const QString &name : dataFiles())
        QTest::newRow(qPrintable(name)) << dataFile(name) << QString();
}

void TestBoundedReader::preScanReadsAsVmime()
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

void TestBoundedReader::childAnswersAsTheReader_data()
{
    QTest::addColumn<QByteArray>("mail");
    for (const QString &name : dataFiles())
        QTest::newRow(qPrintable(name)) << dataFile(name);
    QTest::newRow("tab after the dashes")
        << hostile_mails::nested(mail_limits::kProfondeurMime, "\t");
    QTest::newRow("beyond the limits") << hostile_mails::nested(20000, " ");
    QTest::newRow("tabs, line ends and percent signs in the header")
        << QByteArray("From: a@example.org\r\nSubject: 100%\tsur\r\n deux\r\n"
                      "Message-ID: <1%0A@x>\r\nReferences: <a@x> <b@x>\r\n\r\nCode: 5%;\r\n");
}

// Every field the server uses crosses the pipe intact.
void TestBoundedReader::childAnswersAsTheReader()
{
    QFETCH(QByteArray, mail);
    const QString path = write(mail);

    const std::optional<Pop3Message> local = read_mail_file(path);
    const lecture_bornee::Resultat child =
        lecture_bornee::lire(lecture_bornee::programme_par_defaut(), path, {});
    QVERIFY(local);
    QVERIFY2(child.mail, qPrintable(child.echec));
    QCOMPARE(child.mail->Subject, local->Subject);
    QCOMPARE(child.mail->Body, local->Body);
    QCOMPARE(child.mail->Sender.Address, local->Sender.Address);
    QCOMPARE(child.mail->automatique, local->automatique);
    QCOMPARE(child.mail->raison_automatique, local->raison_automatique);
    QCOMPARE(child.mail->raison_sans_adresse, local->raison_sans_adresse);
    QCOMPARE(child.mail->MessageId, local->MessageId);
    QCOMPARE(child.mail->References, local->References);
    QCOMPARE(child.mail->illisible, local->illisible);
}

void TestBoundedReader::boundsStopTheChild_data()
{
    QTest::addColumn<int>("cpu");
    QTest::addColumn<int>("delay");
    QTest::newRow("processor time") << 1 << 600000;
    QTest::newRow("wall clock") << 600 << 500;
}

// A mail within every count limit that vmime needs half a minute for: the child
// is stopped and the mail comes back with what its header says.
void TestBoundedReader::boundsStopTheChild()
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
    QVERIFY2(result.mail->illisible.contains(QStringLiteral("au-delà de ses limites")),
             qPrintable(result.mail->illisible));
    QCOMPARE(result.mail->Sender.Address, QStringLiteral("mallory@example.org"));
    QCOMPARE(result.mail->Subject, QStringLiteral("Actions"));
    QVERIFY(result.mail->Body.isEmpty());
}

// A program in the reader's place reports what it was given: no descriptor
// beyond the standard three (the server's own are open without close-on-exec
// here), and the limits asked for.
void TestBoundedReader::childInheritsNoDescriptorAndHasItsLimits()
{
    const QString probe = write("#!/usr/bin/python3\n"
                                "import os, resource\n"
                                "def is_open(fd):\n"
                                "    try:\n"
                                "        os.fstat(fd)\n"
                                "        return True\n"
                                "    except OSError:\n"
                                "        return False\n"
                                "fds = [str(fd) for fd in range(3, 1024) if is_open(fd)]\n"
                                "cpu = resource.getrlimit(resource.RLIMIT_CPU)[0]\n"
                                "mem = resource.getrlimit(resource.RLIMIT_AS)[0]\n"
                                "print('tramelon-analyse 1')\n"
                                "print('Subject ' + ','.join(fds))\n"
                                "print('Body cpu=%d as=%d' % (cpu, mem))\n"
                                "print('fin')\n");
    QVERIFY(QFile::setPermissions(probe, QFile::ReadOwner | QFile::ExeOwner));
    const int leaked = ::open(QFile::encodeName(probe).constData(), O_RDONLY);
    QVERIFY(leaked > STDERR_FILENO);
    const lecture_bornee::Resultat result =
        lecture_bornee::lire(probe, write(kHead), {7, 20000, 512LL * 1024 * 1024});
    ::close(leaked);
    QVERIFY2(result.mail, qPrintable(result.echec));
    QCOMPARE(result.mail->Subject, QString());
    QCOMPARE(result.mail->Body, QStringLiteral("cpu=7 as=536870912"));
}

QTEST_GUILESS_MAIN(TestBoundedReader)
#include "tst_bounded_reader.moc"
