#include "ZelLogQuery_un.h"

#include <windows.h>
#include <oledberr.h>

#include <algorithm>
#include <cwctype>

#include "CodePageText.h"
#include "LogDefs_un.h"
#include "LogFileReader_un.h"
#include "LogText_un.h"
#include "OLEDbError.h"
#include "OLEDbExecParams.h"
#include "ZelLogDbRecord_un.h"
#include "ZelLogFolder_un.h"

namespace {
bool IsNameChar(wchar_t c) noexcept { return std::iswalnum(c) || c == L'_'; }
bool IsBlank(wchar_t c) noexcept { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// The text read from left to right; every failure quotes the text from the
// place reading stopped.
class TQueryText {
public:
  explicit TQueryText(std::wstring_view text) noexcept : text_(text) {}

  void SkipBlanks() noexcept {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  bool AtEnd() noexcept {
    SkipBlanks();
    return pos_ == text_.size();
  }
  bool AtBlank() const noexcept { return pos_ < text_.size() && IsBlank(text_[pos_]); }
  std::size_t Position() const noexcept { return pos_; }
  void Restore(std::size_t position) noexcept { pos_ = position; }

  // The keyword as a whole word, in any letter case.
  bool TakeKeyword(std::wstring_view keyword) noexcept {
    SkipBlanks();
    if (text_.size() - pos_ < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i)
      if (std::towupper(text_[pos_ + i]) != keyword[i]) return false;
    if (pos_ + keyword.size() < text_.size() && IsNameChar(text_[pos_ + keyword.size()])) return false;
    pos_ += keyword.size();
    return true;
  }
  bool TakeSymbol(std::wstring_view symbol) noexcept {
    SkipBlanks();
    if (text_.substr(pos_, symbol.size()) != symbol) return false;
    pos_ += symbol.size();
    return true;
  }

  // A name: bare, [bracketed] or "quoted"; empty when none stands here.
  std::wstring TakeName() {
    SkipBlanks();
    if (pos_ < text_.size() && (text_[pos_] == L'[' || text_[pos_] == L'"')) return TakeDelimited();
    const std::size_t begin = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return std::wstring(text_.substr(begin, pos_ - begin));
  }
  // A table name: delimited like a name, or bare up to the next blank, so
  // that paths and patterns need no quotes.
  std::wstring TakeTableName() {
    SkipBlanks();
    if (pos_ < text_.size() && (text_[pos_] == L'[' || text_[pos_] == L'"')) return TakeDelimited();
    const std::size_t begin = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
    return std::wstring(text_.substr(begin, pos_ - begin));
  }
  // A 'text' literal; a doubled quote stands for one.
  bool TakeString(std::wstring& value) {
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != L'\'') return false;
    const std::size_t begin = pos_;
    value.clear();
    for (++pos_; pos_ < text_.size(); ++pos_) {
      if (text_[pos_] != L'\'') {
        value += text_[pos_];
      } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {
        value += L'\'';
        ++pos_;
      } else {
        ++pos_;
        return true;
      }
    }
    pos_ = begin;
    Fail(L"the text literal has no closing quote");
  }
  bool TakeNumber(std::int64_t& value) noexcept {
    SkipBlanks();
    const std::size_t begin = pos_;
    value = 0;
    while (pos_ < text_.size() && text_[pos_] >= L'0' && text_[pos_] <= L'9') {
      value = std::min<std::int64_t>(value * 10 + (text_[pos_] - L'0'), std::numeric_limits<std::int32_t>::max());
      ++pos_;
    }
    return pos_ != begin && (pos_ == text_.size() || !IsNameChar(text_[pos_]));
  }

  [[noreturn]] void Fail(std::wstring_view reason) { FailAt(pos_, reason); }
  [[noreturn]] void FailAt(std::size_t position, std::wstring_view reason) {
    constexpr std::size_t Quoted = 60;
    while (position < text_.size() && IsBlank(text_[position])) ++position;
    std::wstring part(text_.substr(position, Quoted));
    if (text_.size() - position > Quoted) part += L"...";
    OleDbError(DB_E_ERRORSINCOMMAND, L"The command could not be read at \"" + part + L"\": " +
                                         std::wstring(reason) + L".");
    throw EOleDbException(DB_E_ERRORSINCOMMAND);
  }

private:
  std::wstring TakeDelimited() {
    const wchar_t close = text_[pos_] == L'[' ? L']' : L'"';
    const std::size_t end = text_.find(close, pos_ + 1);
    if (end == std::wstring_view::npos) Fail(L"the name has no closing delimiter");
    std::wstring name(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    return name;
  }

  std::wstring_view text_;
  std::size_t pos_ = 0;
};

constexpr std::size_t NoColumn = static_cast<std::size_t>(-1);

std::size_t ColumnNamed(std::wstring_view name) noexcept {
  const auto& columns = ZelLogColumns();
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (SameName(columns[i].Name, name)) return i;
  return NoColumn;
}

bool IsColumn(std::size_t column, std::wstring_view name) noexcept { return SameName(ZelLogColumns()[column].Name, name); }

bool IsTextConditionColumn(std::size_t column) noexcept {
  for (std::wstring_view name : {L"Class", L"Severity", L"FilteringPoint", L"LogFile", L"Sender", L"RelatedIP"})
    if (IsColumn(column, name)) return true;
  return false;
}

// The action a column shows, or -1.
int ActionOfColumn(std::size_t column) noexcept {
  constexpr std::wstring_view Names[] = {L"Action_Reject",     L"Action_TagSubject",  L"Action_TagHeader",
                                         L"Action_Redirect",   L"Action_ReplaceAtt",  L"Action_RemoveRcpt",
                                         L"Action_WhitelistRcpt"};
  for (std::size_t i = 0; i < std::size(Names); ++i)
    if (IsColumn(column, Names[i])) return static_cast<int>(i);
  return -1;
}

// An ISO 8601 local time, date only or to the second, in whole seconds.
bool LocalSecondsOf(std::wstring_view text, std::int64_t& seconds) {
  std::string narrow;
  for (wchar_t c : text) {
    if (c > 0x7F) return false;
    narrow += static_cast<char>(c);
  }
  if (narrow.size() == 10) narrow += "T00:00:00";
  if (narrow.size() == 19 && narrow[10] == ' ') narrow[10] = 'T';
  return StrToLogSeconds(narrow, seconds);
}

bool IsExistingFile(const std::wstring& path) noexcept {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Where the list names LogFile, which only a pattern's table has: the
// table comes later.
std::size_t ReadColumns(TQueryText& text, TZelLogQuery& query) {
  std::size_t logFileAt = std::wstring_view::npos;
  if (text.TakeSymbol(L"*")) return logFileAt;
  do {
    const std::size_t at = text.Position();
    const std::wstring name = text.TakeName();
    if (name.empty()) text.Fail(L"a column name is expected");
    const std::size_t column = ColumnNamed(name);
    if (column == NoColumn) text.FailAt(at, L"'" + name + L"' is not a column of a log table");
    // A rowset's columns are told apart by name.
    if (std::find(query.Columns.begin(), query.Columns.end(), column) != query.Columns.end())
      text.FailAt(at, L"'" + name + L"' is listed twice");
    if (IsColumn(column, L"LogFile")) logFileAt = at;
    query.Columns.push_back(column);
  } while (text.TakeSymbol(L","));
  return logFileAt;
}

void ReadTimeCondition(TQueryText& text, TZelLogQuery& query) {
  const auto time = [&] {
    const std::size_t at = text.Position();
    std::wstring literal;
    std::int64_t seconds = 0;
    if (!text.TakeString(literal)) text.Fail(L"a quoted time is expected");
    if (!LocalSecondsOf(literal, seconds))
      text.FailAt(at, L"'" + literal + L"' is not a time of the form 2010-04-01T08:00:00 or 2010-04-01");
    return seconds;
  };
  std::int64_t from = std::numeric_limits<std::int64_t>::min();
  std::int64_t to = std::numeric_limits<std::int64_t>::max();
  if (text.TakeKeyword(L"BETWEEN")) {
    from = time();
    if (!text.TakeKeyword(L"AND")) text.Fail(L"AND is expected");
    to = time();
  } else if (text.TakeSymbol(L"<=")) {
    to = time();
  } else if (text.TakeSymbol(L">=")) {
    from = time();
  } else if (text.TakeSymbol(L"<")) {
    to = time() - 1;
  } else if (text.TakeSymbol(L">")) {
    from = time() + 1;
  } else if (text.TakeSymbol(L"=")) {
    from = to = time();
  } else {
    text.Fail(L"a comparison (=, <, <=, >, >= or BETWEEN) is expected");
  }
  query.TimeFrom = std::max(query.TimeFrom, from);
  query.TimeTo = std::min(query.TimeTo, to);
}

void ReadTextCondition(TQueryText& text, std::size_t column, TZelLogQuery& query) {
  TZelLogTextCondition condition;
  condition.Column = column;
  std::wstring value;
  if (text.TakeSymbol(L"=")) {
    if (!text.TakeString(value)) text.Fail(L"a quoted text is expected");
    condition.Values.push_back(value);
  } else if (text.TakeKeyword(L"IN")) {
    if (!text.TakeSymbol(L"(")) text.Fail(L"( is expected");
    do {
      if (!text.TakeString(value)) text.Fail(L"a quoted text is expected");
      condition.Values.push_back(value);
    } while (text.TakeSymbol(L","));
    if (!text.TakeSymbol(L")")) text.Fail(L") is expected");
  } else {
    text.Fail(L"= or IN is expected");
  }
  query.TextConditions.push_back(std::move(condition));
}

void ReadActionCondition(TQueryText& text, int action, TZelLogQuery& query) {
  if (!text.TakeSymbol(L"=")) text.Fail(L"= is expected");
  std::int8_t taken = -1;
  std::int64_t number = 0;
  const std::size_t at = text.Position();
  if (text.TakeKeyword(L"TRUE")) {
    taken = 1;
  } else if (text.TakeKeyword(L"FALSE")) {
    taken = 0;
  } else if (text.TakeNumber(number) && number <= 1) {
    taken = static_cast<std::int8_t>(number);
  } else {
    text.FailAt(at, L"1, 0, true or false is expected");
  }
  std::int8_t& required = query.Actions[static_cast<std::size_t>(action)];
  required = required == -1 || required == taken ? taken : TZelLogQuery::Neither;
}

void ReadCondition(TQueryText& text, TZelLogQuery& query) {
  const std::size_t at = text.Position();
  const std::wstring name = text.TakeName();
  if (name.empty()) text.Fail(L"a column name is expected");
  const std::size_t column = ColumnNamed(name);
  if (column == NoColumn) text.FailAt(at, L"'" + name + L"' is not a column of a log table");
  if (IsColumn(column, L"LogFile") && !IsTablePattern(query.TableName))
    text.FailAt(at, L"'" + name + L"' is only a column of tables named by a pattern");
  if (IsColumn(column, L"Time")) {
    ReadTimeCondition(text, query);
  } else if (IsTextConditionColumn(column)) {
    ReadTextCondition(text, column, query);
  } else if (const int action = ActionOfColumn(column); action >= 0) {
    ReadActionCondition(text, action, query);
  } else {
    text.FailAt(at, L"'" + name + L"' cannot be compared in a condition");
  }
}

void FillAllColumns(TZelLogQuery& query) {
  const std::size_t count = IsTablePattern(query.TableName) ? ZelLogPatternColumnCount : ZelLogColumnCount;
  for (std::size_t i = 0; i < count; ++i) query.Columns.push_back(i);
}
}  // namespace

bool TZelLogQuery::FiltersRows() const noexcept {
  return HasTimeWindow() || !TextConditions.empty() ||
         std::any_of(Actions.begin(), Actions.end(), [](std::int8_t required) { return required != -1; });
}

TZelLogQuery WholeTableQuery(std::wstring name) {
  TZelLogQuery query;
  query.TableName = std::move(name);
  FillAllColumns(query);
  return query;
}

TZelLogQuery ReadZelLogQuery(std::wstring_view commandText, std::wstring_view folder) {
  std::wstring ruleName = TOleDbExecParams::TableNameOf(commandText);
  if (IsPossibleTableName(ruleName) && !IsTablePattern(ruleName) &&
      IsExistingFile(std::wstring(folder) + ruleName))
    return WholeTableQuery(std::move(ruleName));

  TQueryText text(commandText);
  text.SkipBlanks();
  if (!text.TakeKeyword(L"SELECT") || !text.AtBlank()) return WholeTableQuery(std::move(ruleName));
  TZelLogQuery query;
  if (text.TakeKeyword(L"TOP")) {
    if (!text.TakeNumber(query.Top)) text.Fail(L"TOP needs a number of rows");
  }
  const std::size_t logFileAt = ReadColumns(text, query);
  if (!text.TakeKeyword(L"FROM")) text.Fail(L"FROM is expected");
  query.TableName = text.TakeTableName();
  if (query.TableName.empty()) text.Fail(L"a table name is expected");
  if (logFileAt != std::wstring_view::npos && !IsTablePattern(query.TableName))
    text.FailAt(logFileAt, L"'LogFile' is only a column of tables named by a pattern");
  const bool allColumns = query.Columns.empty();
  if (allColumns) FillAllColumns(query);
  if (text.AtEnd()) return allColumns && query.Top == TZelLogQuery::NoLimit ? WholeTableQuery(std::move(ruleName))
                                                                            : query;
  const std::size_t afterTable = text.Position();
  if (!text.TakeKeyword(L"WHERE")) {
    // "SELECT * FROM" and a name with blanks in it reads as it always has.
    if (allColumns && query.Top == TZelLogQuery::NoLimit) return WholeTableQuery(std::move(ruleName));
    text.FailAt(afterTable, L"WHERE or the end of the command is expected");
  }
  do {
    ReadCondition(text, query);
  } while (text.TakeKeyword(L"AND"));
  if (!text.AtEnd()) text.Fail(L"AND or the end of the command is expected");
  return query;
}

namespace {
constexpr std::pair<std::wstring_view, std::uint32_t> ColumnFields[] = {
    {L"Version", LogFieldVersion},   {L"Server", LogFieldServer},         {L"Source", LogFieldSource},
    {L"Time", LogFieldTime},         {L"RelatedIP", LogFieldIP},          {L"MessageID", LogFieldMessageID},
    {L"Sender", LogFieldSender},     {L"Recipients", LogFieldRecipients}, {L"HeloDomain", LogFieldHeloDomain},
    {L"Subject", LogFieldSubject},   {L"Message", LogFieldMessage}};

std::uint32_t FieldsOfColumn(std::size_t column) noexcept {
  for (const auto& [name, fields] : ColumnFields)
    if (IsColumn(column, name)) return fields;
  return 0;
}

// The enumeration's values whose display text is one of values.
template <class E, std::size_t N>
std::uint32_t AllowedValues(const std::vector<std::wstring>& values, const std::string& (*text)(E) noexcept) {
  std::uint32_t allowed = 0;
  for (std::size_t i = 0; i < N; ++i)
    for (const std::wstring& value : values)
      if (SameName(WideFromCodePage(text(static_cast<E>(i))), value)) allowed |= 1u << i;
  return allowed;
}

bool SameLogText(std::string_view a, std::string_view b) noexcept {
  if (SameTextAscii(a, b)) return true;
  const auto beyondAscii = [](std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  };
  // Letters beyond ASCII follow the code page's own case rules.
  return (beyondAscii(a) || beyondAscii(b)) &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool MatchesAll(const std::vector<std::vector<std::string>>& conditions, std::string_view value) noexcept {
  for (const std::vector<std::string>& values : conditions)
    if (std::none_of(values.begin(), values.end(), [&](const std::string& v) { return SameLogText(v, value); }))
      return false;
  return true;
}
}  // namespace

std::uint32_t ZelLogReadFields(const TZelLogQuery& query) noexcept {
  std::uint32_t fields = query.HasTimeWindow() ? std::uint32_t{LogFieldTime} : 0u;
  for (std::size_t column : query.Columns) fields |= FieldsOfColumn(column);
  for (const TZelLogTextCondition& condition : query.TextConditions) fields |= FieldsOfColumn(condition.Column);
  return fields;
}

TZelLogRowFilter::TZelLogRowFilter(const TZelLogQuery& query) {
  for (const TZelLogTextCondition& condition : query.TextConditions) {
    std::vector<std::string> narrow;
    for (const std::wstring& value : condition.Values) narrow.push_back(CodePageFromWide(value));
    if (IsColumn(condition.Column, L"Class")) {
      classes_ &= AllowedValues<TLogEventClass, LogEventClassNames.size()>(condition.Values, &EventClassDisplayText);
    } else if (IsColumn(condition.Column, L"Severity")) {
      severities_ &= AllowedValues<TLogSeverity, LogSeverityNames.size()>(condition.Values, &SeverityDisplayText);
    } else if (IsColumn(condition.Column, L"FilteringPoint")) {
      points_ &= AllowedValues<TFilteringPoint, FilteringPointNames.size()>(condition.Values,
                                                                             &FilteringPointDisplayText);
    } else if (IsColumn(condition.Column, L"Sender")) {
      senders_.push_back(std::move(narrow));
    } else if (IsColumn(condition.Column, L"RelatedIP")) {
      addresses_.push_back(std::move(narrow));
    } else if (IsColumn(condition.Column, L"LogFile")) {
      logFiles_.push_back(condition.Values);
    }
  }
  for (std::size_t i = 0; i < query.Actions.size(); ++i) {
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << i);
    if (query.Actions[i] == 1) actionsTaken_ |= bit;
    if (query.Actions[i] == 0) actionsNotTaken_ |= bit;
    if (query.Actions[i] == TZelLogQuery::Neither) matchesNothing_ = true;
  }
}

bool TZelLogRowFilter::Passes(const TLogRecord& record, const std::wstring* logFile) const noexcept {
  for (const std::vector<std::wstring>& names : logFiles_)
    if (!logFile || std::none_of(names.begin(), names.end(),
                                 [&](const std::wstring& name) { return SameName(name, *logFile); }))
      return false;
  return !matchesNothing_ && (classes_ >> static_cast<unsigned>(record.Class) & 1u) &&
         (severities_ >> static_cast<unsigned>(record.Severity) & 1u) &&
         (points_ >> static_cast<unsigned>(record.FilteringPoint) & 1u) &&
         (record.Actions.Bits & actionsTaken_) == actionsTaken_ && (record.Actions.Bits & actionsNotTaken_) == 0 &&
         MatchesAll(senders_, record.Sender) && MatchesAll(addresses_, record.IP);
}
