#pragma once

// How the mailbox account proves itself to the POP3 and SMTP servers: with its
// password, or with an OAuth 2.0 access token given in the password's place
// (SASL XOAUTH2, or OAUTHBEARER where the server offers only that).
enum class Authentification { MotDePasse, JetonOAuth2 };
