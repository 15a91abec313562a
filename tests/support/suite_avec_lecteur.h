#pragma once

#include "server/vmime/lecteur_borne.h"

#include <QObject>

// A suite that reads mails in its own process starts the mail reader first,
// before any thread, as the program's main does: a reader forked later would
// copy the locks the suite's other threads hold.
class SuiteAvecLecteur : public QObject
{
public:
    static void initMain() { lecture_bornee::demarrer_lecteur(); }
};
