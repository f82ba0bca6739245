#pragma once

#include "protocol/Protocol.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// A line printed on the rewritable surface, in the card's dots (8 per millimetre).
struct SurfaceLine
{
    int x = 0;
    int y = 0;       // top of the line
    int height = 0;  // line pitch in dots
    QString text;    // decoded from the device's code page

    bool operator==(const SurfaceLine &) const = default;
};

// One block of print data: "SIZE, X, Y," followed by lines separated by LF. SIZE 1 to 3 chooses
// the character height (12, 24 or 36 dots); X and Y place the first line's top left corner.
// Without that header the block prints at the top left in size 1.
struct PrintBlock
{
    int size = 1;
    int x = 0;
    int y = 0;
    QList<QByteArray> lines;
};

// Reads a print data block; false when the header is there but out of range.
bool parsePrintBlock(QByteArrayView data, PrintBlock *block);

// The device: the card slot, the card's stripe and surface, and the two buffers. Several links
// share one model. A command takes effect when its operation time is over (execute()).
class DeviceModel : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCardWidth = 685;  // 85.6 mm at 8 dots per mm
    static constexpr int kCardHeight = 432; // 54 mm
    static constexpr int kBufferLimit = 65535;

    struct Outcome
    {
        quint8 status = DeviceStatus::Normal;
        QByteArray data;
    };

    explicit DeviceModel(QObject *parent = nullptr);

    // How long the device is busy with a command, before any time scale, in milliseconds.
    int operationMs(quint8 code, QByteArrayView parameter) const;
    Outcome execute(quint8 code, QByteArrayView parameter);

    // After an eject the operator puts the card back after this many milliseconds
    // (0: at once, negative: never).
    void setReinsertMs(int ms) { m_reinsertMs = ms; }

    bool cardPresent() const { return m_cardPresent; }
    int printBufferBytes() const { return m_printBytes; }
    QList<SurfaceLine> surface() const { return m_surface; }

    // The operator's hands, for tests and the reinsert timer.
    void insertCard();

signals:
    void surfaceChanged();
    void cardMoved(bool present);

private:
    static bool needsCard(quint8 code);
    void clearBuffers();
    void printOnSurface();

    bool m_cardPresent = true;
    int m_reinsertMs = 2000;
    QByteArray m_stripe;
    QByteArray m_writeBuffer;
    QList<PrintBlock> m_printBuffer;
    int m_printBytes = 0;
    QList<SurfaceLine> m_surface;
    QTimer m_reinsertTimer;
};
