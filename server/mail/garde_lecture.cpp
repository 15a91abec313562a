#include "server/mail/garde_lecture.h"

Pop3Session::BeforeRead garde_lecture(JudgedMails &juges, const QString &identite, qint32 numero,
                                      const QDateTime &now, QString *erreur)
{
    switch (juges.commencer_lecture(identite, now, erreur)) {
    case JudgedMails::Lecture::Lire:
        return Pop3Session::BeforeRead::Read;
    case JudgedMails::Lecture::Interrompue:
        return Pop3Session::BeforeRead::SetAside;
    case JudgedMails::Lecture::NonEnregistree:
        break;
    }
    if (erreur)
        *erreur += QStringLiteral(", le message ") + QString::number(numero) +
                   QStringLiteral(" reste dans la boite");
    return Pop3Session::BeforeRead::Leave;
}
