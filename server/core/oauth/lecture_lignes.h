#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// Reads lines from a descriptor (the terminal's standard input) in the event
// loop, so that the listener and the timers go on while the operator types.
// A line longer than the cap is cut there; the rest of it is dropped.
class LectureLignes : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kLigneMax = 8 * 1024;

    explicit LectureLignes(int descripteur, QObject *parent = nullptr);
    ~LectureLignes() override;

Q_SIGNALS:
    void ligne(const QByteArray &texte); // without its end of line
    void fin();                          // end of file, or the descriptor failed

private:
    void lire();

    int m_descripteur;
    QSocketNotifier *m_notifier;
    QByteArray m_tampon;
    bool m_coupee = false; // the rest of a line already cut
};
