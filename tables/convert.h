#pragma once

#include <QString>

// Text conversions with the runtime's messages, raised as AppError.
namespace convert {

// Optional blanks and sign, then digits; "'%s' is not a valid integer value" otherwise.
int strToInt(const QString& text);

// A time of day: "h", "h:m" or "h:m:s" (a bare number is hours), hours 0..23, minutes and seconds
// 0..59; "'%s' is not a valid time" otherwise. Returns a day fraction.
double strToTime(const QString& text);

// A whole number typed as minutes or seconds: read as a time of day and scaled
// (timetext::minuteScale or timetext::minLapScale).
double wholeNumberDuration(const QString& text, double scale);

} // namespace convert
