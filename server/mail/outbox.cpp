#include "server/mail/outbox.h"

#include "common/durable_file.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <atomic>
#include <optional>

namespace {

const QByteArray kMagic("TRAMELON-OUTBOX 1");
const QString kSuffix = QStringLiteral(".reply");
const QString kSetAside = QStringLiteral(".illisible");

QByteArray headerLine(const QByteArray &key, const QByteArray &value)
{
    return key + ": " + value + '\n';
}

// The file names sort in the order the replies were composed.
QString fileName(const QDateTime &composed, qint16 numero)
{
    static std::atomic<quint32> serial{0};
    return composed.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmsszzz")) +
           QStringLiteral("-%1-%2").arg(serial++ % 100000, 5, 10, QLatin1Char('0')).arg(numero) +
           kSuffix;
}

std::optional<Outbox::Entry> readEntry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    const qsizetype end = data.indexOf("\n\n");
    if (!data.startsWith(kMagic + '\n') || end < 0)
        return std::nullopt;
    Outbox::Entry entry;
    entry.file = path;
    bool numero = false;
    for (const QByteArray &line : data.left(end).split('\n').mid(1)) {
        const qsizetype colon = line.indexOf(": ");
        if (colon < 0)
            return std::nullopt;
        const QByteArray key = line.left(colon);
        const QString value = QString::fromUtf8(line.mid(colon + 2));
        if (key == "numero")
            entry.numero = static_cast<qint16>(value.toInt(&numero));
        else if (key == "composed")
            entry.composed = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "mail-from")
            entry.mail.mailfrom = value;
        else if (key == "rcpt-to")
            entry.mail.rcptto = value;
    }
    entry.mail.bytes = data.mid(end + 2);
    if (!numero || !entry.composed.isValid() || entry.mail.mailfrom.isEmpty() ||
        entry.mail.rcptto.isEmpty() || entry.mail.bytes.isEmpty())
        return std::nullopt;
    return entry;
}

QString nonRetire(const Outbox::Entry &entry)
{
    return QStringLiteral("Réponse n %1 retirée, mais son fichier %2 n'a pu être supprimé")
        .arg(entry.numero)
        .arg(entry.file);
}

} // namespace

Outbox::Outbox(const QString &folder) : m_folder(folder) {}

bool Outbox::ajoute(qint16 numero, const ComposedMail &mail, const QDateTime &now)
{
    m_error.clear();
    // Line breaks in the envelope would break the record, and the envelope.
    for (const QString &field : {mail.mailfrom, mail.rcptto}) {
        if (field.isEmpty() || field.contains(u'\n') || field.contains(u'\r')) {
            m_error =
                QStringLiteral("Réponse n %1 non enregistrée : adresse non valide").arg(numero);
            return false;
        }
    }
    QDir dir;
    if (!dir.mkpath(m_folder)) {
        m_error = QStringLiteral("Impossible de créer le dossier des réponses %1").arg(m_folder);
        return false;
    }
    QFile::setPermissions(m_folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QByteArray record = kMagic + '\n';
    record += headerLine("numero", QByteArray::number(numero));
    record += headerLine("composed", now.toUTC().toString(Qt::ISODateWithMs).toLatin1());
    record += headerLine("mail-from", mail.mailfrom.toUtf8());
    record += headerLine("rcpt-to", mail.rcptto.toUtf8());
    record += '\n';
    record += mail.bytes;

    // The folder is synced with the file: the mail it answers is deleted from
    // the mailbox right after, and a reply lost to a power cut would not come back.
    QString why;
    if (durable::remplacer(QDir(m_folder).filePath(fileName(now, numero)), record, &why,
                           durable::kProprietaireSeul))
        return true;
    m_error =
        QStringLiteral("Réponse n %1 non enregistrée dans %2 : %3").arg(numero).arg(m_folder, why);
    return false;
}

QList<Outbox::Entry> Outbox::en_attente()
{
    m_error.clear();
    QList<Entry> entries;
    const QDir dir(m_folder);
    for (const QString &name :
         dir.entryList({QLatin1Char('*') + kSuffix}, QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (auto entry = readEntry(path)) {
            entries.append(*entry);
            continue;
        }
        // One unreadable file must not stop the others nor come back every round.
        // A failed rename leaves it for the next round, which says so again.
        QFile::rename(path, path + kSetAside);
        m_error =
            QStringLiteral("Réponse en attente illisible, mise de côté : %1").arg(path + kSetAside);
    }
    return entries;
}

bool Outbox::retire(const Entry &entry) { return QFile::remove(entry.file); }

Outbox::Round Outbox::envoie(SmtpSender &smtp, const QDateTime &now)
{
    Round round;
    // The send processes window events: a tick meanwhile must not send the
    // same replies a second time.
    if (m_envoi_en_cours)
        return round;
    m_envoi_en_cours = true;
    const auto done = qScopeGuard([this] { m_envoi_en_cours = false; });
    const QList<Entry> entries = en_attente();
    if (!m_error.isEmpty())
        round.lines.append(m_error);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries.at(i);
        if (entry.composed.daysTo(now) >= kDelaiAbandonJours) {
            if (!retire(entry))
                round.lines.append(nonRetire(entry));
            round.lines.append(
                QStringLiteral("Réponse n %1 à %2 abandonnée : non envoyée depuis le %3")
                    .arg(entry.numero)
                    .arg(entry.mail.rcptto,
                         entry.composed.toLocalTime().toString(QStringLiteral("dd/MM/yy HH:mm"))));
            continue;
        }
        bool sessionOpened = false;
        const QMetaObject::Connection watch = QObject::connect(
            &smtp, &SmtpSender::ConnectionMade, &smtp, [&sessionOpened] { sessionOpened = true; });
        const bool accepted = smtp.sendcomposed(entry.mail);
        QObject::disconnect(watch);
        if (accepted) {
            ++round.sent;
            if (!retire(entry))
                round.lines.append(nonRetire(entry));
            continue;
        }
        if (smtp.permanentfailure) {
            // Sent again it would be refused again: said once, then dropped.
            if (!retire(entry))
                round.lines.append(nonRetire(entry));
            round.lines.append(QStringLiteral("Réponse n %1 à %2 abandonnée : refusée par le "
                                              "serveur SMTP (%3)")
                                   .arg(entry.numero)
                                   .arg(entry.mail.rcptto, smtp.statustext()));
            continue;
        }
        round.lines.append(
            QStringLiteral("Réponse n %1 à %2 non envoyée, gardée pour un nouvel essai")
                .arg(entry.numero)
                .arg(entry.mail.rcptto));
        if (!sessionOpened) {
            round.left += static_cast<int>(entries.size() - i);
            return round;
        }
        ++round.left;
    }
    return round;
}
