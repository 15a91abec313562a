#include "server/vmime/mail_file_reader.h"

#include "server/vmime/mail_limits.h"
#include "server/vmime/mail_parser.h"

#include <QFile>

std::optional<Pop3Message> read_mail_file(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QByteArray> head = mail_limits::entete(file);
    if (!head) {
        Pop3Message mail;
        mail.Unreadable = QStringLiteral("en-têtes au-delà des limites (%1 en-têtes, %2 octets)")
                              .arg(mail_limits::kNombreEntetes)
                              .arg(mail_limits::kTailleEntetes);
        return mail;
    }
    if (!file.seek(0))
        return std::nullopt;
    if (const std::optional<QString> reason = mail_limits::depassement(file)) {
        // The header block alone is safe to read: it says whom to answer.
        Pop3Message mail = parse_mail_head(*head);
        mail.Unreadable = *reason;
        return mail;
    }
    file.close();
    return parse_mail_file(path, *head);
}
