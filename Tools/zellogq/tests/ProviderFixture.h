#pragma once
// What the end-to-end tests share: the sample logs as a Windows path, and
// zellogcat's records of them as the expected values.
#include <map>
#include <string>
#include <vector>

#include <windows.h>

// A flat JSON object as zellogcat and zellogq write them: every value as
// text (strings decoded, numbers and literals as written), arrays of strings
// joined by '+'.
using TJsonRecord = std::map<std::string, std::string>;

// One JSON Lines line; false when it is not a flat object.
bool ParseJsonRecord(std::string_view line, TJsonRecord& record);
std::vector<TJsonRecord> ParseJsonLines(std::string_view text);

// A build path (forward slashes) as wine's drive Z: path.
std::string WindowsPath(std::string path);

std::string ExampleLogsFolder();
std::vector<std::string> ExampleLogNames();

// zellogcat's records of one sample log, turned into the values the provider
// shows for them, keyed by its column names; a line zellogcat reports as
// unreadable gives a record holding only "error".
std::vector<TJsonRecord> ExpectedRows(const std::string& logName);
