// kestra-journal: a link journal summarized, turned into a kestra-send script or a pcapng capture.

#include "JournalProgram.h"

#include <QString>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return runJournal(arguments);
}
