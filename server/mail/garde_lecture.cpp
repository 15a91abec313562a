#include "server/mail/garde_lecture.h"

#include <QFile>

Pop3Session::AvantLecture garde_lecture(JudgedMails &juges, const LigneBoite &ligne,
                                        const QString &archive, const QDateTime &now,
                                        QString *erreur)
{
    QByteArray octets;
    if (ligne.uidl.isEmpty()) {
        QFile file(archive);
        if (file.open(QIODevice::ReadOnly))
            octets = file.readAll();
    }
    const QString identite = JudgedMails::identite(ligne.uidl, octets, ligne.taille);
    switch (juges.commencer_lecture(identite, now, erreur)) {
    case JudgedMails::Lecture::Lire:
        return Pop3Session::AvantLecture::Lire;
    case JudgedMails::Lecture::Interrompue:
        return Pop3Session::AvantLecture::MettreDeCote;
    case JudgedMails::Lecture::NonEnregistree:
        break;
    }
    if (erreur)
        *erreur += QStringLiteral(", le message ") + QString::number(ligne.numero) +
                   QStringLiteral(" reste dans la boite");
    return Pop3Session::AvantLecture::Laisser;
}
