#pragma once

#include "tests/support/testfolders.h"

// Starts the program the way main() does, in temporary folders and with pre-answered message boxes,
// and removes its windows again at the end of the test.
class ProgramSession
{
public:
    ProgramSession();
    ~ProgramSession();
    void start();
    const TestFolders& folders() const { return m_folders; }

private:
    TestFolders m_folders;
    bool m_started = false;
};
