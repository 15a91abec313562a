#include "server/mail/judged_mails.h"

#include "common/durable_file.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

namespace {

// One line per mail: UTC time, identity, Message-ID, tab-separated, and a
// fourth field "en-lecture" while the mail is being read, "en-cours" while its
// judgement is not over. Both texts come from the mail's sender or the server,
// so they are percent-encoded: no tab or line end of theirs can break a line.
const QByteArray kEnCours = QByteArrayLiteral("en-cours");
const QByteArray kEnLecture = QByteArrayLiteral("en-lecture");
QByteArray encodeField(const QString &text) { return QUrl::toPercentEncoding(text); }

QString decodeField(const QByteArray &field) { return QUrl::fromPercentEncoding(field); }

} // namespace

JudgedMails::JudgedMails(QString path) : m_path(std::move(path)) {}

bool JudgedMails::charger(QString *error)
{
    m_entrees.clear();
    m_compte.clear();
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("lecture impossible de ") + m_path + QStringLiteral(" : ") +
                     file.errorString();
        return false;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        // Not trimmed: a mail without Message-ID ends its line with a tab.
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3 && fields.size() != 4)
            continue; // an empty or damaged line names no mail
        const QDateTime moment =
            QDateTime::fromString(QString::fromLatin1(fields.at(0)), Qt::ISODate);
        const QString identite = decodeField(fields.at(1));
        if (!moment.isValid() || identite.isEmpty())
            continue;
        Etat etat = Etat::Termine;
        if (fields.size() == 4 && fields.at(3) == kEnCours)
            etat = Etat::EnCours;
        else if (fields.size() == 4 && fields.at(3) == kEnLecture)
            etat = Etat::EnLecture;
        m_entrees.append({moment, identite, decodeField(fields.at(2)), etat});
        ++m_compte[identite];
    }
    return true;
}

QString JudgedMails::message_id(const QByteArray &mail)
{
    // Only the header block counts: a "Message-ID:" line in a body names nothing.
    qsizetype end = mail.indexOf("\r\n\r\n");
    if (end < 0)
        end = mail.indexOf("\n\n");
    const QByteArray block = end < 0 ? mail : mail.left(end);
    static const QRegularExpression folded(QStringLiteral("\r?\n[ \t]+"));
    const QString unfolded = QString::fromLatin1(block).replace(folded, QStringLiteral(" "));
    static const QRegularExpression header(QStringLiteral("^Message-ID:[ \t]*(.*)$"),
                                           QRegularExpression::CaseInsensitiveOption |
                                               QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = header.match(unfolded);
    if (!match.hasMatch())
        return {};
    QString id = match.captured(1).trimmed();
    if (id.startsWith(u'<') && id.endsWith(u'>'))
        id = id.mid(1, id.size() - 2);
    return id;
}

QString JudgedMails::identite(const QString &uidl, const QByteArray &mail, qint64 size)
{
    if (!uidl.isEmpty())
        return QStringLiteral("uidl ") + uidl;
    const QString size_text = QStringLiteral(" ") + QString::number(size);
    const QString id = message_id(mail);
    if (!id.isEmpty())
        return QStringLiteral("mid ") + id + size_text;
    return QStringLiteral("sha ") +
           QString::fromLatin1(QCryptographicHash::hash(mail, QCryptographicHash::Sha256).toHex()) +
           size_text;
}

QString JudgedMails::identite_dans(const QString &serveur, const QString &login,
                                   const QString &uidl, const QByteArray &mail, qint64 size)
{
    // Percent-encoded, so that no blank of a login can make two mailboxes one.
    return QStringLiteral("boite ") + QString::fromLatin1(encodeField(login.trimmed())) + u'@' +
           QString::fromLatin1(encodeField(serveur.trimmed().toLower())) + u' ' +
           identite(uidl, mail, size);
}

bool JudgedMails::contient(const QString &identite) const { return m_compte.contains(identite); }

qsizetype JudgedMails::derniere(const QString &identite) const
{
    for (qsizetype i = m_entrees.size() - 1; i >= 0; --i)
        if (m_entrees.at(i).identite == identite)
            return i;
    return -1;
}

bool JudgedMails::ajouter(const Entree &entree, QString *error)
{
    QList<Entree> entrees = m_entrees;
    entrees.append(entree);
    const QDateTime limite = entree.moment.addDays(-kMaxJours);
    qsizetype first = 0;
    while (first < entrees.size() &&
           (entrees.size() - first > kMaxEntrees || entrees.at(first).moment < limite))
        ++first;
    return ecrire(entrees.mid(first), error);
}

JudgedMails::Lecture JudgedMails::commencer_lecture(const QString &identite, const QDateTime &now,
                                                    QString *error)
{
    const qsizetype i = derniere(identite);
    if (i >= 0)
        return m_entrees.at(i).etat == Etat::EnLecture ? Lecture::Interrompue : Lecture::Lire;
    return ajouter({now.toUTC(), identite, QString(), Etat::EnLecture}, error)
               ? Lecture::Lire
               : Lecture::NonEnregistree;
}

bool JudgedMails::enregistrer(const QString &identite, const QString &messageId,
                              const QDateTime &now, QString *error)
{
    const qsizetype i = derniere(identite);
    if (i >= 0 && m_entrees.at(i).etat == Etat::EnLecture) {
        QList<Entree> entrees = m_entrees;
        entrees[i].etat = Etat::EnCours;
        entrees[i].messageId = messageId;
        return ecrire(entrees, error);
    }
    return ajouter({now.toUTC(), identite, messageId, Etat::EnCours}, error);
}

bool JudgedMails::terminer(const QString &identite, QString *error)
{
    const qsizetype i = derniere(identite);
    if (i < 0 || m_entrees.at(i).etat == Etat::Termine)
        return true;
    QList<Entree> entrees = m_entrees;
    entrees[i].etat = Etat::Termine;
    return ecrire(entrees, error);
}

bool JudgedMails::termine(const QString &identite) const
{
    const qsizetype i = derniere(identite);
    return i >= 0 && m_entrees.at(i).etat == Etat::Termine;
}

bool JudgedMails::en_cours(const QString &identite) const
{
    const qsizetype i = derniere(identite);
    return i >= 0 && m_entrees.at(i).etat == Etat::EnCours;
}

bool JudgedMails::ecrire(const QList<Entree> &entrees, QString *error)
{
    QByteArray content;
    for (const Entree &e : entrees) {
        const QByteArray etat = e.etat == Etat::EnCours     ? '\t' + kEnCours
                                : e.etat == Etat::EnLecture ? '\t' + kEnLecture
                                                            : QByteArray();
        content += e.moment.toString(Qt::ISODate).toLatin1() + '\t' + encodeField(e.identite) +
                   '\t' + encodeField(e.messageId) + etat + '\n';
    }
    // Memory follows the disk: an entry that did not reach the file does not count.
    if (!durable::remplacer(m_path, content, error))
        return false;
    m_entrees = entrees;
    m_compte.clear();
    for (const Entree &e : std::as_const(m_entrees))
        ++m_compte[e.identite];
    return true;
}
