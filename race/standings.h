#pragma once

#include <QList>

// Standings of a final: positions by laps, the records given in the order of the laps-descending
// index. A run of equal laps gets the positions of its places dealt out in reverse walk order, so
// the car that reached the lap count first (posted later, so placed earlier) ranks ahead.
class Standings
{
public:
    // Positions 1..n, one per record, in walk order.
    static QList<int> positions(const QList<int>& lapsInWalkOrder);

private:
    explicit Standings(const QList<int>& laps);
    void walk();
    // Numbers the pending run, if any, then (during the walk) gives the current record its position.
    void CalcolaPosiz(int current);
    // Numbers a run by stepping back from its last record.
    void AssegnaPosiz(int lastOfRun);

    const QList<int>& m_laps;
    QList<int> m_positions;
    int m_positionCounter = 0;
    int m_runLength = 0;
};
