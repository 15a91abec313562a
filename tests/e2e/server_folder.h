#pragma once

#include "tests/support/mail_servers.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A server folder as an operator prepares it: pop3.ini pointing at the test
// mail servers with one POP3 account of its own, clefs.dat, and an actions
// folder whose run.bat leaves a marker file when it runs.
class ServerFolder
{
public:
    ServerFolder(const MailServers &servers, const QString &user, const QStringList &keys);

    QString path() const { return m_dir.path() + u'/'; }
    QString actions() const { return path() + QStringLiteral("actions/"); }
    QString marker() const { return actions() + QStringLiteral("marker"); }
    QByteArray read(const QString &relative) const;
    void write(const QString &relative, const QByteArray &bytes) const;
    bool isValid() const { return m_dir.isValid(); }

    // A mail as a mail program sends it: headers, a quoted-printable UTF-8
    // text body, CR LF line ends.
    static QByteArray commandMail(const QString &from, const QString &subject, const QString &body,
                                  const QByteArray &extraHeaders = {});

private:
    QTemporaryDir m_dir;
};
