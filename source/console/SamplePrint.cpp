#include "SamplePrint.h"

#include <array>

QByteArray SamplePrintData()
{
    // The prefix is a constant of the device's print command, not derived from the lines.
    static constexpr const char *kPrefix = "2, 0, 23,";
    static constexpr std::array<const char *, 16> kLines = {
        "Hello, World!",
        " ",
        "This is Kestra.",
        " Rewritable Card R/W",
        "  From Orvell, Velden.",
        " ",
        "/www.example.com/",
        " ",
        "You can use Kestra for...",
        "* Point card",
        "* Pre-Paid card",
        "* Member's card",
        "* Library ID Card",
        "* Medical ID card",
        "",
        "......And more!!",
    };
    QByteArray data(kPrefix);
    data.append(kLines[0]);
    for (size_t i = 1; i < kLines.size(); ++i) {
        data.append('\n');
        data.append(kLines[i]);
    }
    return data;
}
