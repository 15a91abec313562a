#pragma once

#include "server/mail/sonnette.h"

#include <QStringList>

#include <chrono>
#include <memory>

// The doorbell on IMAP (libetpan): a thread of its own connects, checks the
// server's certificate chain with GnuTLS before any credential goes out,
// signs in (LOGIN, or AUTHENTICATE XOAUTH2), selects INBOX and waits in IDLE
// (RFC 2177), renewed well before the 29 minutes a server may allow. Every
// call has a time-out; the window's thread never waits on the network. A
// connection that fails is tried again after a pause that doubles up to a
// ceiling, and the pause starts again from the first once signed in.
class SonnetteImap : public Sonnette
{
    Q_OBJECT

public:
    struct Reglages {
        std::chrono::milliseconds premier_essai{30'000}; // pause after the first failure
        std::chrono::milliseconds dernier_essai{15 * 60'000};
        std::chrono::milliseconds delai{30'000}; // each network call
        std::chrono::milliseconds renouvellement{25 * 60'000};
        QStringList autorites; // PEM files trusted besides the system store
    };

    explicit SonnetteImap(QObject *parent = nullptr);
    explicit SonnetteImap(Reglages reglages, QObject *parent = nullptr);
    ~SonnetteImap() override;

    void demarrer(const Acces &acces) override;
    void changer_acces(const Acces &acces) override;
    void arreter() override;

    struct Partage;

private:
    Reglages m_reglages;
    std::shared_ptr<Partage> m_partage;
    quint64 m_generation = 0; // what a stopped run still queued is dropped
};
