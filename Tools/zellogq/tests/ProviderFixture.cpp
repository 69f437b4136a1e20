#include "ProviderFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "LogDefs_un.h"
#include "ZellogCat.h"

namespace {

class TJsonParser {
public:
  explicit TJsonParser(std::string_view text) : Text(text) {}

  bool Object(TJsonRecord& record) {
    if (!Take('{')) return false;
    if (Take('}')) return AtEnd();
    do {
      std::string name, value;
      if (!String(name) || !Take(':') || !Value(value)) return false;
      record[name] = value;
    } while (Take(','));
    return Take('}') && AtEnd();
  }

private:
  bool AtEnd() const { return Pos == Text.size(); }
  bool Take(char c) {
    if (Pos < Text.size() && Text[Pos] == c) return ++Pos, true;
    return false;
  }

  bool Value(std::string& value) {
    if (Pos >= Text.size()) return false;
    if (Text[Pos] == '"') return String(value);
    if (Take('[')) {
      if (Take(']')) return true;
      do {
        std::string item;
        if (!String(item)) return false;
        if (!value.empty()) value.push_back('+');
        value.append(item);
      } while (Take(','));
      return Take(']');
    }
    const std::size_t end = Text.find_first_of(",}", Pos);
    if (end == std::string_view::npos || end == Pos) return false;
    value.assign(Text.substr(Pos, end - Pos));
    Pos = end;
    return true;
  }

  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (Pos < Text.size()) {
      const char c = Text[Pos++];
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (Pos >= Text.size()) return false;
      const char e = Text[Pos++];
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {
            unsigned low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(low)) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default: out.push_back(e);
      }
    }
    return false;
  }

  bool Hex4(unsigned& code) {
    if (Pos + 4 > Text.size()) return false;
    for (int i = 0; i < 4; ++i) {
      const char c = Text[Pos++];
      code = code * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return true;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | code >> 6));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | code >> 12));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | code >> 18));
      out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  std::string_view Text;
  std::size_t Pos = 0;
};

template <std::size_t N>
std::size_t NameIndex(const std::array<std::string_view, N>& names, const std::string& name) {
  const auto found = std::find(names.begin(), names.end(), name);
  EXPECT_NE(found, names.end()) << name;
  return static_cast<std::size_t>(found - names.begin());
}

// The provider's view of one zellogcat record.
TJsonRecord ProviderRow(const TJsonRecord& cat) {
  TJsonRecord row;
  row["Version"] = cat.at("Version");
  row["Verbose"] = cat.at("LogMode") == "Verbose" ? "true" : "false";
  row["Class"] = EventClassToDisplayText(static_cast<TLogEventClass>(NameIndex(LogEventClassNames, cat.at("Class"))));
  row["Server"] = cat.at("Server");
  row["Source"] = cat.at("Source");
  // The provider delivers whole seconds moved 3 ms later.
  row["Time"] = cat.at("Time") + ".003";
  static const char* const ActionColumns[] = {"Action_Reject",     "Action_TagSubject", "Action_TagHeader",
                                              "Action_Redirect",   "Action_ReplaceAtt", "Action_RemoveRcpt",
                                              "Action_WhitelistRcpt"};
  const std::string actions = "+" + cat.at("Actions") + "+";
  for (std::size_t i = 0; i < LogActionNames.size(); ++i)
    row[ActionColumns[i]] = actions.find("+" + std::string(LogActionNames[i]) + "+") != std::string::npos ? "true" : "false";
  row["Severity"] = SeverityToDisplayText(static_cast<TLogSeverity>(NameIndex(LogSeverityNames, cat.at("Severity"))));
  row["FilteringPoint"] =
      FilteringPointToDisplayText(static_cast<TFilteringPoint>(NameIndex(FilteringPointNames, cat.at("FilteringPoint"))));
  row["RelatedIP"] = cat.at("IP");
  for (const char* name : {"MessageID", "Sender", "Recipients", "HeloDomain", "Subject", "Message", "LineNr"})
    row[name] = cat.at(name);
  return row;
}

}  // namespace

bool ParseJsonRecord(std::string_view line, TJsonRecord& record) { return TJsonParser(line).Object(record); }

std::vector<TJsonRecord> ParseJsonLines(std::string_view text) {
  std::vector<TJsonRecord> records;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    TJsonRecord record;
    EXPECT_TRUE(ParseJsonRecord(text.substr(0, end), record)) << text.substr(0, end);
    records.push_back(std::move(record));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return records;
}

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path.starts_with("\\") ? "Z:" + path : path;
}

std::string ExampleLogsFolder() { return WindowsPath(ZELLOG_EXAMPLE_LOGS); }

std::vector<std::string> ExampleLogNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ZELLOG_EXAMPLE_LOGS))
    if (entry.path().extension() == ".log") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<TJsonRecord> ExpectedRows(const std::string& logName) {
  const std::string path = ExampleLogsFolder() + "\\" + logName;
  std::string out, err;
  const int status = RunZellogcat({{path, std::u16string(path.begin(), path.end())}},
                                  [&](std::string_view text) { return out.append(text), true; },
                                  [&](std::string_view text) { return err.append(text), true; });
  EXPECT_EQ(status, CatExitSuccess) << err;
  std::vector<TJsonRecord> rows;
  for (const TJsonRecord& cat : ParseJsonLines(out))
    rows.push_back(cat.contains("error") ? TJsonRecord{{"error", cat.at("error")}} : ProviderRow(cat));
  return rows;
}
