#pragma once

#include <QStringList>

// The order in which both programs list file names: a French user's file
// manager order (accents sort with their letter, letter case ignored, numbers by
// value), whatever the locale the program runs under, so that filebat.dat and
// the choosers list the same names in the same order.
namespace ordre_noms {

// True when a comes before b.
bool avant(const QString &a, const QString &b);

// Sorts the names in place in that order.
void trier(QStringList &noms);

} // namespace ordre_noms
