#include "tests/support/program.h"

#include "race/program.h"
#include "tables/timetext.h"
#include "tools/sim/simulator.h"
#include "widgets/dialogs.h"

#include <QFile>
#include <QThread>

ProgramSession::ProgramSession(Device device)
{
    dialogs::setTestMode(true);
    dialogs::clearShown();
    if (device == Device::Simulator) {
        m_device = std::make_unique<Simulator>();
        m_device->start(1, m_folders.install());
    } else if (device == Device::SimulatorThread) {
        m_deviceThread = std::make_unique<QThread>();
        m_deviceThread->setObjectName(QStringLiteral("simulator"));
        m_device = std::make_unique<Simulator>();
        m_device->moveToThread(m_deviceThread.get());
        m_deviceThread->start();
        onDevice([this] { m_device->start(1, m_folders.install()); });
    } else {
        // A COM1 link to a device that is not plugged in, so no test ever opens the machine's own ports.
        QFile::link(m_folders.install() + QStringLiteral("unplugged"), m_folders.install() + QStringLiteral("COM1"));
    }
}

ProgramSession::~ProgramSession()
{
    if (m_started)
        destroyWindows();
    if (m_deviceThread) {
        onDevice([this] { m_device->stop(); });
        m_deviceThread->quit();
        m_deviceThread->wait();
    }
    m_device.reset();
    timetext::setClock({});
    dialogs::clearShown();
}

void ProgramSession::onDevice(const std::function<void()>& call)
{
    if (!m_deviceThread) {
        call();
        return;
    }
    QMetaObject::invokeMethod(m_device.get(), call, Qt::BlockingQueuedConnection);
}

namespace {
int sessionWebPort = 0;
} // namespace

void ProgramSession::setWebPort(int port)
{
    sessionWebPort = port;
}

void ProgramSession::start()
{
    ::setWebPort(sessionWebPort);
    createWindows();
    m_started = true;
}
