#include "server/core/oauth/lecture_lignes.h"

#include <QSocketNotifier>

#include <cerrno>

#include <unistd.h>

LectureLignes::LectureLignes(int descripteur, QObject *parent)
    : QObject(parent), m_descripteur(descripteur),
      m_notifier(new QSocketNotifier(descripteur, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &LectureLignes::lire);
}

LectureLignes::~LectureLignes() = default;

void LectureLignes::lire()
{
    char octets[4096];
    const ssize_t lus = ::read(m_descripteur, octets, sizeof octets);
    if (lus < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (lus <= 0) {
        m_notifier->setEnabled(false);
        if (!m_tampon.isEmpty() && !m_coupee)
            Q_EMIT ligne(m_tampon);
        m_tampon.clear();
        Q_EMIT fin();
        return;
    }
    m_tampon.append(octets, lus);
    qsizetype fin_ligne;
    while ((fin_ligne = m_tampon.indexOf('\n')) >= 0) {
        const QByteArray texte = m_tampon.left(fin_ligne);
        m_tampon.remove(0, fin_ligne + 1);
        if (!m_coupee)
            Q_EMIT ligne(texte.endsWith('\r') ? texte.chopped(1) : texte);
        m_coupee = false;
    }
    if (m_tampon.size() > kLigneMax) {
        if (!m_coupee)
            Q_EMIT ligne(m_tampon.left(kLigneMax));
        m_coupee = true;
        m_tampon.clear();
    }
}
