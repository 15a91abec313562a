#pragma once

#include "server/mail/pop3_session.h"
#include "server/mail/smtp_sender.h"

#include <memory>

class Serveur;
class SourceJeton;

// The server's two mail components with OAuth 2.0 sign-in around them, both
// taking their tokens from source (which must outlive them).
struct ComposantsMail {
    std::unique_ptr<Pop3Session> session;
    std::unique_ptr<SmtpSender> smtp;
};
ComposantsMail avec_oauth2(SourceJeton &source, std::unique_ptr<Pop3Session> session,
                           std::unique_ptr<SmtpSender> smtp);

// A revoked grant stops the polling: the error line is shown and journalled.
// Saving the mail settings starts the polling again.
void arret_sur_revocation(Serveur &serveur, SourceJeton &source);
