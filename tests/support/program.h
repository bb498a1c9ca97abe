#pragma once

#include "tests/support/testfolders.h"

#include <memory>

class Simulator;

// Starts the program the way main() does, in temporary folders and with pre-answered message boxes,
// with the simulated timing device linked as COM1 (or, without a device, a COM1 link to nothing),
// and removes its windows again at the end of the test.
class ProgramSession
{
public:
    enum class Device { Simulator, None };

    explicit ProgramSession(Device device = Device::Simulator);
    ~ProgramSession();
    // Creates the windows; the start-up dialogue check then talks to the simulator.
    void start();
    const TestFolders& folders() const { return m_folders; }
    Simulator& device() { return *m_device; }
    bool hasDevice() const { return m_device != nullptr; }

private:
    TestFolders m_folders;
    std::unique_ptr<Simulator> m_device;
    bool m_started = false;
};
