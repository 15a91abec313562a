#include "tests/support/mail_servers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

#include <atomic>

#include <pwd.h>
#include <unistd.h>

MailServers::MailServers(const QString &dir)
{
    QFile env(dir + QStringLiteral("/servers.env"));
    if (!env.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_error = QStringLiteral("cannot read %1 (is the mail_servers fixture running?)")
                      .arg(env.fileName());
        return;
    }
    while (!env.atEnd()) {
        const QString line = QString::fromUtf8(env.readLine()).trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            m_values.insert(line.left(equals), line.mid(equals + 1));
    }
    for (const char *key :
         {"ROOT", "POP3_PORT", "POP3S_PORT", "SMTP_PORT", "SMTP_AUTH_PORT", "CA_CERT"}) {
        if (value(QLatin1String(key)).isEmpty())
            m_error = QStringLiteral("%1 lacks %2").arg(env.fileName(), QLatin1String(key));
    }
}

QString MailServers::mailbox(const QString &user) const
{
    return root() + QStringLiteral("/box/") + user;
}

QString MailServers::deliver(const QString &user, const QByteArray &raw) const
{
    // Names that sort in delivery order: Dovecot numbers new mail by name.
    static std::atomic<int> counter{0};
    const QString name = QStringLiteral("%1.%2_%3.tramelon-test")
                             .arg(QDateTime::currentMSecsSinceEpoch(), 13, 10, QLatin1Char('0'))
                             .arg(counter++, 6, 10, QLatin1Char('0'))
                             .arg(::getpid());
    const QString tmp = mailbox(user) + QStringLiteral("/tmp/") + name;
    const QString target = mailbox(user) + QStringLiteral("/new/") + name;
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly) || file.write(raw) != raw.size())
        return {};
    file.close();
    if (const passwd *owner = ::getpwnam("dovecot")) {
        if (::chown(QFile::encodeName(tmp).constData(), owner->pw_uid, owner->pw_gid) != 0)
            return {};
    }
    // Written in tmp/ then moved, so the server never sees half a mail.
    if (!QFile::rename(tmp, target))
        return {};
    return target;
}

QString MailServers::deliverFile(const QString &user, const QString &emlPath) const
{
    QFile file(emlPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return deliver(user, file.readAll());
}

int MailServers::messageCount(const QString &user) const
{
    int count = 0;
    for (const char *sub : {"/new", "/cur"})
        count += static_cast<int>(
            QDir(mailbox(user) + QLatin1String(sub)).entryList(QDir::Files).size());
    return count;
}

void MailServers::clearMailbox(const QString &user) const
{
    for (const char *sub : {"/new", "/cur", "/tmp"}) {
        QDir dir(mailbox(user) + QLatin1String(sub));
        for (const QString &name : dir.entryList(QDir::Files))
            dir.remove(name);
    }
}

namespace {

QString headerValue(const QByteArray &raw, const QByteArray &name)
{
    for (QByteArray line : raw.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break; // end of the header
        if (line.startsWith(name + ':'))
            return QString::fromUtf8(line.mid(name.size() + 1).trimmed());
    }
    return {};
}

} // namespace

QList<MailServers::ReceivedMail> MailServers::receivedMails(const QString &recipient) const
{
    QList<ReceivedMail> mails;
    QDir dir(value(QStringLiteral("SMTP_MAILDIR")) + QStringLiteral("/new"));
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        ReceivedMail mail;
        mail.path = info.filePath();
        mail.raw = file.readAll();
        mail.mailFrom = headerValue(mail.raw, "X-MailFrom");
        for (const QString &to :
             headerValue(mail.raw, "X-RcptTo").split(QLatin1Char(','), Qt::SkipEmptyParts))
            mail.rcptTo.append(to.trimmed());
        if (recipient.isEmpty() || mail.rcptTo.contains(recipient, Qt::CaseInsensitive))
            mails.append(mail);
    }
    return mails;
}

void MailServers::clearReceived(const QString &recipient) const
{
    for (const ReceivedMail &mail : receivedMails(recipient))
        QFile::remove(mail.path);
}

quint16 MailServers::unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}
