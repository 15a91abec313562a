#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include <vmime/security/cert/certificateException.hpp>
#include <vmime/security/cert/certificateVerifier.hpp>

// Checks the chain a mail server presents, as GnuTLS does for any TLS
// client: every signature up to a trusted root, CA flags, path length,
// validity dates, key usage and the server's name (a DNS name, or the IP
// address it was reached at). A chain is never judged by its names alone.
// The anchors are the system's trust store plus the PEM files given (a
// private CA; the tests' own, made at run time).
class TlsVerifier : public vmime::security::cert::certificateVerifier
{
public:
    // onRefusal runs before a refusal is thrown (to close the connection).
    explicit TlsVerifier(QStringList caFiles, std::function<void()> onRefusal = {});

    // Throws CertificateRefused, before a byte of the dialogue goes out.
    void verify(vmime::shared_ptr<vmime::security::cert::certificateChain> chain,
                const vmime::string &hostname) override;

    // The same check on a chain in DER, the server's own certificate first,
    // for connections that vmime does not make: empty when the chain is
    // accepted, else why not (in French).
    static QString checkDer(const QList<QByteArray> &chain, const QString &hostname,
                            const QStringList &caFiles);

private:
    [[noreturn]] void refuse(const QString &host, const QString &reason);

    QStringList m_caFiles;
    std::function<void()> m_onRefusal;
};

// A chain the verifier refused: the server's name and GnuTLS's reason.
class CertificateRefused : public vmime::security::cert::certificateException
{
public:
    CertificateRefused(const QString &host, const QString &reason);
    ~CertificateRefused() noexcept override;

    vmime::exception *clone() const override;
    const char *name() const noexcept override;

    QString host() const { return m_host; }
    QString reason() const { return m_reason; }

private:
    QString m_host;
    QString m_reason;
};
