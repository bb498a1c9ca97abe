#include "tests/support/program.h"

#include "race/program.h"
#include "widgets/dialogs.h"

ProgramSession::ProgramSession()
{
    dialogs::setTestMode(true);
    dialogs::clearShown();
}

ProgramSession::~ProgramSession()
{
    if (m_started)
        destroyWindows();
    dialogs::clearShown();
}

void ProgramSession::start()
{
    createWindows();
    m_started = true;
}
