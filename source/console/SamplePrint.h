#pragma once

#include <QByteArray>

// The sample print text that cmdRewrite sends: sixteen lines joined by line feeds alone, the
// first behind the fixed prefix "2, 0, 23,". All ASCII, so the bytes are the text.
QByteArray SamplePrintData();
