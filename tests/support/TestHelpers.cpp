#include "TestHelpers.h"

// Filled in together with the emulator's command line.
EmulatorProcess::EmulatorProcess() : EmulatorProcess(Options{}) {}
EmulatorProcess::EmulatorProcess(Options options) : m_options(std::move(options)) {}
EmulatorProcess::~EmulatorProcess() { stop(); }
bool EmulatorProcess::start() { m_error = QStringLiteral("not built yet"); return false; }
void EmulatorProcess::stop() {}
QByteArray EmulatorProcess::trace() const { return {}; }
