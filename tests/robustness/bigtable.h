#pragma once

#include <QByteArray>

class Table;

// A qualification table of `rows` rows, open and filled. Each variant (0 or 1) has its own names, laps and times,
// so that a file tells which one was saved.
void fillBigTable(Table& table, int rows, int variant);

// What saving that table writes.
QByteArray bigTableBytes(int rows, int variant);
