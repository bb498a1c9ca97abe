#include "race/standings.h"

QList<int> Standings::positions(const QList<int>& lapsInWalkOrder)
{
    Standings s(lapsInWalkOrder);
    s.walk();
    return s.m_positions;
}

Standings::Standings(const QList<int>& laps) : m_laps(laps), m_positions(laps.size(), 0)
{
}

void Standings::walk()
{
    if (m_laps.isEmpty())
        return;
    m_positionCounter = 1;
    m_runLength = 0;
    m_positions[0] = m_positionCounter;
    int previousLaps = m_laps[0];
    for (int i = 1; i < m_laps.size(); ++i) {
        if (m_laps[i] == previousLaps) {
            ++m_positionCounter;
            ++m_runLength;
        } else {
            CalcolaPosiz(i);
        }
        previousLaps = m_laps[i];
    }
    // Past the last record: only the pending run is numbered.
    CalcolaPosiz(-1);
}

void Standings::CalcolaPosiz(int current)
{
    if (m_runLength > 0)
        AssegnaPosiz(current < 0 ? int(m_laps.size()) - 1 : current - 1);
    m_runLength = 0;
    if (current >= 0) {
        ++m_positionCounter;
        m_positions[current] = m_positionCounter;
    }
}

void Standings::AssegnaPosiz(int lastOfRun)
{
    const int runBase = m_positionCounter - m_runLength;
    for (int walkBack = 0; walkBack <= m_runLength; ++walkBack)
        m_positions[lastOfRun - walkBack] = runBase + walkBack;
}
