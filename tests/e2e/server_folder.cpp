#include "server_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>

ServerFolder::ServerFolder(const MailServers &servers, const QString &user, const QStringList &keys)
{
    QDir(path()).mkdir(QStringLiteral("actions"));
    write(QStringLiteral("actions/run.bat"), "echo launched > marker\n");
    write(QStringLiteral("actions/other.bat"), "echo other > other-marker\n");
    QByteArray clefs;
    for (const QString &key : keys)
        clefs += key.toLatin1() + "\r\n";
    write(QStringLiteral("clefs.dat"), clefs);
    const QByteArray ini =
        "[mail]\r\nserveur_smtp=127.0.0.1:" + QByteArray::number(servers.smtpPort()) +
        "\r\nserveur_pop=127.0.0.1:" + QByteArray::number(servers.pop3Port()) +
        "\r\nrepondre=tramelon@example.org\r\nauthentification=off\r\nlogin=" + user.toLatin1() +
        "\r\npass=" + servers.pop3Password().toLatin1() + "\r\n[TIMER]\r\nrelance=60\r\n" +
        "[PATH]\r\nrepertoire_commande=" + QFile::encodeName(actions()) + "\r\n";
    write(QStringLiteral("pop3.ini"), ini);
}

QByteArray ServerFolder::read(const QString &relative) const
{
    QFile f(path() + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void ServerFolder::write(const QString &relative, const QByteArray &bytes) const
{
    QFile f(path() + relative);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray ServerFolder::commandMail(const QString &from, const QString &subject,
                                     const QString &body, const QByteArray &extraHeaders)
{
    // Python's mail package writes what common mail programs write: MIME
    // headers, RFC 2047 where needed, quoted-printable UTF-8 text.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, email.message, email.policy, email.utils\n"
                                 "from email.charset import Charset, QP\n"
                                 "from_, subject, extra = sys.argv[1], sys.argv[2], sys.argv[3]\n"
                                 "body = sys.stdin.buffer.read().decode('utf-8')\n"
                                 "m = email.message.EmailMessage(policy=email.policy.SMTP)\n"
                                 "m['From'] = from_\n"
                                 "m['To'] = 'tramelon@example.org'\n"
                                 "m['Subject'] = subject\n"
                                 "m['Date'] = email.utils.formatdate(localtime=True)\n"
                                 "m['Message-ID'] = email.utils.make_msgid()\n"
                                 "for line in filter(None, extra.split('\\n')):\n"
                                 "    k, v = line.split(':', 1); m[k] = v.strip()\n"
                                 "m.set_content(body, cte='quoted-printable')\n"
                                 "sys.stdout.buffer.write(m.as_bytes())\n"),
                  from, subject, QString::fromUtf8(extraHeaders)});
    python.write(body.toUtf8());
    python.closeWriteChannel();
    python.waitForFinished(30000);
    return python.readAllStandardOutput();
}
