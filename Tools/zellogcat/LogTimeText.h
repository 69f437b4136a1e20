#pragma once
// Automation dates (days since 1899-12-30, the fraction being the time of day)
// as ISO 8601 text.

// Writes "YYYY-MM-DDTHH:MM:SS", rounded to the nearest second, and a closing
// NUL. False, writing nothing, for a value that is not a date of the years
// 1 to 9999.
bool AutomationDateToIsoText(double date, char (&text)[20]);
