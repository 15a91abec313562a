#pragma once

#include <QString>

// Trimming in both programs removes the blank (U+0020) only: tabs, CR and LF
// are part of a value.
QString enleve_blancs(const QString &text);
