#pragma once

#include "server/mail/judged_mails.h"
#include "server/mail/pop3_session.h"

#include <QDateTime>
#include <QString>

// Before a fetched mail is read: it is recorded as being read, so that a mail
// during whose reading the server stopped (killed, out of memory, a power cut)
// is set aside unread after the restart instead of stopping it again. erreur
// says why the record could not be written (the mail then stays in the box).
Pop3Session::BeforeRead garde_lecture(JudgedMails &juges, const QString &identite, qint32 numero,
                                      const QDateTime &now, QString *erreur);
