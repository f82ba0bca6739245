#pragma once

#include <QStringView>
#include <QtGlobal>

// The check that one address box applies to its text while the operator types. It looks at
// the value, not at the characters: a text with no number at its start reads as 0 and passes,
// "12a" reads as 12 and passes, "1.5" passes. A text fails when it is empty, longer than three
// characters, or its value lies outside 0-255.
bool octetEntryPasses(QStringView text);

// The byte that a box's text stands for: its leading number rounded to the nearest integer,
// a half going to the even one ("1.5" -> 2, "2.5" -> 2, "abc" -> 0). Only meaningful for a
// text that passes the check; anything else gives 0.
quint8 octetValue(QStringView text);
