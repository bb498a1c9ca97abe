#pragma once

#include <QString>

// The race window's three report projects, in the installation folder.
namespace reports {

inline const QString heatsProject = QStringLiteral("Batterie.rav");
inline const QString qualificationProject = QStringLiteral("Qualifiche.rav");
inline const QString finalsProject = QStringLiteral("Finali.rav");

} // namespace reports
