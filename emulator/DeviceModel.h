#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// Status bytes the device puts first in a response body.
namespace DeviceStatus {
constexpr quint8 Normal = 0x20;
constexpr quint8 NoCard = 0x30;         // the command needs a card and the slot is empty
constexpr quint8 ParameterError = 0x31; // a parameter the command does not accept
constexpr quint8 UnknownCommand = 0x32;
constexpr quint8 ReadError = 0x33;      // nothing readable on the stripe (blank)
constexpr quint8 BufferEmpty = 0x34;    // nothing to write or print
constexpr quint8 BufferFull = 0x35;     // the data would not fit the buffer
}

// Command bytes, as the device's letters.
namespace DeviceCommand {
constexpr quint8 MagneticRead = 0x22;   // '"'
constexpr quint8 MagneticWrite = 0x31;  // '1', parameter "2"
constexpr quint8 MagneticData = 0x39;   // '9'
constexpr quint8 PrintData = 0x41;      // 'A'
constexpr quint8 Rewrite = 0x46;        // 'F', parameter "1"
constexpr quint8 Erase = 0x48;          // 'H', parameter "1"
constexpr quint8 BufferClear = 0x49;    // 'I'
constexpr quint8 Eject = 0x50;          // 'P', parameter "1"
constexpr quint8 Reset = 0x5F;          // '_'
}

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
    QByteArray stripe() const { return m_stripe; }
    QByteArray writeBuffer() const { return m_writeBuffer; }
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
