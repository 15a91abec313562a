#include "fake_mail.h"

#include "tests/support/test_files.h"

#include <algorithm>

qint32 FakePop3Session::Open(const QString &, qint32, const QString &, const QString &)
{
    ++opened;
    if (refuse) {
        Q_EMIT ErrorPOP3(10061, QStringLiteral("connection refused"));
        return -1;
    }
    m_open = true;
    Q_EMIT Connected();
    return 0;
}

qint32 FakePop3Session::MailboxFigure2() const
{
    qint32 total = 0;
    for (const Pop3Message &m : mailbox)
        total += qint32(m.Raw.size());
    return total;
}

void FakePop3Session::suivreUidls() const
{
    QList<QByteArray> raws;
    for (const Pop3Message &m : mailbox)
        raws.append(m.Raw);
    if (raws == m_connus)
        return;
    m_connus = raws;
    m_uidls.clear();
    for (qsizetype i = 0; i < raws.size(); ++i)
        m_uidls.append(QStringLiteral("uid%1").arg(m_prochainUidl++));
}

QList<Pop3MessageInfo> FakePop3Session::MessageList() const
{
    QList<Pop3MessageInfo> list;
    if (!m_open)
        return list;
    suivreUidls();
    for (qsizetype i = 0; i < mailbox.size(); ++i)
        list.append({qint32(i + 1), qint32(mailbox.at(i).Raw.size()), m_uidls.at(i)});
    return list;
}

std::optional<Pop3Message> FakePop3Session::FetchMessage(qint32 number, const QString &archivePath)
{
    if (!m_open || number < 1 || number > mailbox.size())
        return std::nullopt;
    if (failingFetches > 0 || unfetchable.contains(mailbox.at(number - 1).Raw)) {
        failingFetches = std::max(0, failingFetches - 1);
        Q_EMIT ErrorPOP3(5, QStringLiteral("connexion perdue pendant RETR %1").arg(number));
        return std::nullopt;
    }
    if (!test_files::ecrire(archivePath, mailbox.at(number - 1).Raw)) {
        Q_EMIT ErrorPOP3(18, QStringLiteral("Le message %1 n'a pas pu être archivé dans %2")
                                 .arg(number)
                                 .arg(archivePath));
        return std::nullopt;
    }
    return mailbox.at(number - 1);
}

qint32 FakePop3Session::DeleteMessage(qint32 number)
{
    if (loseOnDelete) {
        m_open = false;
        deleted.clear();
        Q_EMIT ErrorPOP3(5, QStringLiteral("connexion perdue"));
        Q_EMIT Closed();
        return 5;
    }
    deleted.append(number);
    return 0;
}

void FakePop3Session::Close()
{
    ++closed;
    if (!m_open)
        return;
    m_open = false;
    // Deletions take effect when the session ends, highest number first.
    std::sort(deleted.begin(), deleted.end(), std::greater<>());
    suivreUidls();
    for (qint32 n : std::as_const(deleted)) {
        mailbox.removeAt(n - 1);
        m_connus.removeAt(n - 1);
        m_uidls.removeAt(n - 1);
    }
    deleted.clear();
    Q_EMIT Closed();
}

void FakeSmtpSender::sendmessage()
{
    sent.append(properties);
    Q_EMIT ConnectionMade();
    Q_EMIT MessageSent();
    Q_EMIT ConnectionClosed();
}

bool FakeSmtpSender::sendcomposed(const ComposedMail &mail)
{
    if (refuse) {
        Q_EMIT SMTPError(3, QStringLiteral("refused"));
        return false;
    }
    composed.append(mail);
    Q_EMIT ConnectionMade();
    Q_EMIT MessageSent();
    Q_EMIT ConnectionClosed();
    return true;
}
