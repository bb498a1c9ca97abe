#pragma once

#include "tests/support/testfolders.h"

#include <functional>
#include <memory>

class QThread;
class Simulator;

// Starts the program the way main() does, in temporary folders and with pre-answered message boxes,
// with the simulated timing device linked as COM1 (or, without a device, a COM1 link to nothing),
// and removes its windows again at the end of the test.
class ProgramSession
{
public:
    // The simulator runs in the test's thread, or in a thread of its own so that it goes on sending while the
    // user-interface thread is held (call its methods through onDevice() then).
    enum class Device { Simulator, SimulatorThread, None };

    explicit ProgramSession(Device device = Device::Simulator);
    ~ProgramSession();
    // Creates the windows; the start-up dialogue check then talks to the simulator.
    void start();
    // The live results page of the sessions started from now on: off (0) unless a test sets a port.
    static void setWebPort(int port);
    const TestFolders& folders() const { return m_folders; }
    Simulator& device() { return *m_device; }
    bool hasDevice() const { return m_device != nullptr; }
    // Runs `call` in the simulator's thread and waits for it.
    void onDevice(const std::function<void()>& call);

private:
    TestFolders m_folders;
    std::unique_ptr<Simulator> m_device;
    std::unique_ptr<QThread> m_deviceThread;
    bool m_started = false;
};
