#include "LogDefs_un.h"

#include "CivilDate_un.h"

#include <cstring>
#include <limits>

#include "ByteScan_un.h"
#include "LogText_un.h"

bool TryStrToInt(std::string_view text, std::int32_t& value) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size())
    return false;
  // Accumulate negatively so that the minimum value fits.
  std::int64_t result = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9')
      return false;
    result = result * 10 - (c - '0');
    if (result < std::numeric_limits<std::int32_t>::min())
      return false;
  }
  if (!negative) {
    result = -result;
    if (result > std::numeric_limits<std::int32_t>::max())
      return false;
  }
  value = static_cast<std::int32_t>(result);
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

namespace {

// The numbers of a 19-character date-time text at their fixed places. Plain
// digits, the rule, are read directly; anything else takes the general
// conversion, which also admits a leading blank or sign.
bool DateTimeNumbers(std::string_view text, std::int32_t& year, std::int32_t& month, std::int32_t& day,
                     std::int32_t& hour, std::int32_t& minute, std::int32_t& second) noexcept {
  static constexpr std::size_t DigitPlaces[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
  bool plain = true;
  for (const std::size_t place : DigitPlaces)
    plain = plain && text[place] >= '0' && text[place] <= '9';
  if (!plain)
    return TryStrToInt(text.substr(8, 2), day) && TryStrToInt(text.substr(5, 2), month) &&
           TryStrToInt(text.substr(0, 4), year) && TryStrToInt(text.substr(17, 2), second) &&
           TryStrToInt(text.substr(14, 2), minute) && TryStrToInt(text.substr(11, 2), hour);
  const auto number = [text](std::size_t place, std::size_t digits) {
    std::int32_t result = 0;
    for (std::size_t i = place; i < place + digits; ++i)
      result = result * 10 + (text[i] - '0');
    return result;
  };
  year = number(0, 4);
  month = number(5, 2);
  day = number(8, 2);
  hour = number(11, 2);
  minute = number(14, 2);
  second = number(17, 2);
  return true;
}


constexpr std::int64_t AutomationEpochToUnixEpochDays = 25569;

bool IsLeapYear(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) noexcept {
  static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

// The vocabulary is made of words of four letters or more, and a byte equals
// a letter but for case exactly when both agree with bit 5 set: four or eight
// bytes are compared at once, without the general case folding.
bool SameVocabularyWord(std::string_view text, std::string_view word) noexcept {
  const std::size_t size = word.size();
  if (text.size() != size)
    return false;
  const auto bytesAt = [](const char* p) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, p, 8);
    return bytes | 0x2020202020202020u;
  };
  if (size < 8) { // words have four letters at least
    const auto fourAt = [](const char* p) {
      std::uint32_t bytes = 0;
      std::memcpy(&bytes, p, 4);
      return bytes | 0x20202020u;
    };
    return fourAt(text.data()) == fourAt(word.data()) &&
           fourAt(text.data() + size - 4) == fourAt(word.data() + size - 4);
  }
  for (std::size_t at = 0; at + 8 < size; at += 8)
    if (bytesAt(text.data() + at) != bytesAt(word.data() + at))
      return false;
  return bytesAt(text.data() + size - 8) == bytesAt(word.data() + size - 8);
}

// A small vocabulary found with one comparison: a text is looked for only in
// the slot that its length and its first and last letters select, and every
// vocabulary is checked when compiled to give each word a slot of its own.
template <std::size_t N>
class TVocabulary {
public:
  constexpr explicit TVocabulary(const std::array<std::string_view, N>& words) : Words(words) {
    Slots.fill(-1);
    for (std::size_t i = 0; i < N; ++i) {
      std::int8_t& slot = Slots[SlotOf(words[i])];
      Distinct = Distinct && slot == -1;
      slot = static_cast<std::int8_t>(i);
    }
  }

  // The index of text's word (ASCII case-insensitive), or -1.
  int Find(std::string_view text) const noexcept {
    if (text.empty())
      return -1;
    const int index = Slots[SlotOf(text)];
    return index >= 0 && SameVocabularyWord(text, Words[static_cast<std::size_t>(index)]) ? index : -1;
  }

  bool Distinct = true;

private:
  // Bit 5 set makes a letter's two cases one; other bytes only pick a slot
  // whose word cannot match them.
  static constexpr std::size_t SlotOf(std::string_view word) noexcept {
    return (word.size() + static_cast<unsigned char>(word.front() | 0x20) +
            static_cast<unsigned char>(word.back() | 0x20) * 6) %
           64;
  }

  std::array<std::string_view, N> Words;
  std::array<std::int8_t, 64> Slots{};
};

template <typename T, std::size_t N>
bool FindText(const TVocabulary<N>& vocabulary, std::string_view text, T& value) noexcept {
  const int index = vocabulary.Find(text);
  if (index < 0)
    return false;
  value = static_cast<T>(index);
  return true;
}

constexpr std::array<std::string_view, 5> EventClassLogTexts = {"System", "Pass", "Whitelist", "Blacklist",
                                                                 "Intermediate"};
constexpr std::array<std::string_view, 7> ActionLogTexts = {"Reject", "TagSubject", "TagHeader", "Redirect",
                                                             "ReplaceAttachment", "RemoveRecipient",
                                                             "WhitelistRecipient"};
constexpr std::array<std::string_view, 4> SeverityLogTexts = {"Info", "Warning", "Error", "Critical"};

constexpr TVocabulary EventClassVocabulary(EventClassLogTexts);
constexpr TVocabulary ActionVocabulary(ActionLogTexts);
constexpr TVocabulary SeverityVocabulary(SeverityLogTexts);
static_assert(EventClassVocabulary.Distinct && ActionVocabulary.Distinct && SeverityVocabulary.Distinct);

constexpr std::array<std::string_view, 5> EventClassDisplayTexts = {"System Message", "Pass", "Whitelist",
                                                                     "Blacklist", "Intermediate"};
constexpr std::array<std::string_view, 4> SeverityDisplayTexts = {"Information", "Warning", "Error",
                                                                   "Critical Error"};
constexpr std::array<std::string_view, 3> FilteringPointDisplayTexts = {"Non-filtering", "Before Arrival",
                                                                         "On Arrival"};

struct TLegacyClass {
  std::string_view Text;
  TLogEventClass Class;
  std::uint8_t Actions;
};

constexpr std::uint8_t NoActions = 0;

constexpr TLegacyClass LegacyClasses[] = {
    {"Block", TLogEventClass::Blacklist, LogActionMask(TLogAction::Reject)},
    {"RejectRecipient", TLogEventClass::Blacklist, LogActionMask(TLogAction::Reject)},
    {"Accept", TLogEventClass::Pass, NoActions},
    {"AcceptRecipient", TLogEventClass::Pass, NoActions},
    {"Ignore", TLogEventClass::Whitelist, NoActions},
    {"IgnoreRecipient", TLogEventClass::Whitelist, NoActions},
    {"ServiceMsg", TLogEventClass::System, NoActions},
    {"IgnoreMail", TLogEventClass::Whitelist, NoActions},
    {"AcceptMail", TLogEventClass::Pass, NoActions},
    {"RejectMail", TLogEventClass::Blacklist, LogActionMask(TLogAction::Reject)},
    {"TagMailHeader", TLogEventClass::Blacklist, LogActionMask(TLogAction::TagHeader)},
    {"TagMailSubject", TLogEventClass::Blacklist, LogActionMask(TLogAction::TagSubject)},
    {"RedirectMail", TLogEventClass::Blacklist, LogActionMask(TLogAction::Redirect)},
    {"RemoveMailRecipient", TLogEventClass::Intermediate, LogActionMask(TLogAction::RemoveRecipient)},
    {"IgnoreMailRecipient", TLogEventClass::Intermediate, LogActionMask(TLogAction::WhitelistRecipient)},
    {"ReplaceMailAttachment", TLogEventClass::Intermediate, LogActionMask(TLogAction::ReplaceAttachment)},
    {"AddToAutoSenderWhitelist", TLogEventClass::System, NoActions},
};

constexpr TVocabulary LegacyClassVocabulary([] {
  std::array<std::string_view, std::size(LegacyClasses)> words{};
  for (std::size_t i = 0; i < words.size(); ++i)
    words[i] = LegacyClasses[i].Text;
  return words;
}());
static_assert(LegacyClassVocabulary.Distinct);

constexpr bool IsLetterWord(std::string_view word) noexcept {
  for (const char c : word)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
      return false;
  return word.size() >= 4;
}
template <std::size_t N>
constexpr bool AreLetterWords(const std::array<std::string_view, N>& words) noexcept {
  for (const std::string_view word : words)
    if (!IsLetterWord(word))
      return false;
  return true;
}
static_assert(AreLetterWords(EventClassLogTexts) && AreLetterWords(ActionLogTexts) &&
                  AreLetterWords(SeverityLogTexts) && IsLetterWord("BeforeArrival") && IsLetterWord("OnArrival"),
              "SameVocabularyWord compares words of four letters or more");
static_assert([] {
  for (const TLegacyClass& legacy : LegacyClasses)
    if (!IsLetterWord(legacy.Text))
      return false;
  return true;
}(), "SameVocabularyWord compares words of four letters or more");

// The usual form of an address: four parts of one to three plain digits, each
// at most 255. False for anything else, which takes the general conversion.
bool TryPlainIPv4Value(std::string_view text, std::uint32_t& value) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  const auto digitAt = [&end](const char* at) {
    return at != end ? static_cast<unsigned>(static_cast<unsigned char>(*at)) - unsigned{'0'} : 10u;
  };
  std::uint32_t result = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (p == end || *p++ != '.'))
      return false;
    std::uint32_t octet = digitAt(p);
    if (octet > 9)
      return false;
    ++p;
    if (const unsigned second = digitAt(p); second <= 9) {
      octet = octet * 10 + second;
      ++p;
      if (const unsigned third = digitAt(p); third <= 9) {
        octet = octet * 10 + third;
        ++p;
      }
    }
    if (octet > 255)
      return false;
    result = (result << 8) | octet;
  }
  if (p != end)
    return false;
  value = result;
  return true;
}

template <std::size_t N>
std::string_view DisplayText(const std::array<std::string_view, N>& texts, std::uint8_t value) noexcept {
  return value < N ? texts[value] : std::string_view();
}

} // namespace

bool StrToLogDateTime(std::string_view text, double& value) {
  std::int64_t seconds = 0;
  if (!StrToLogSeconds(text, seconds))
    return false;
  value = AutomationDateFromSeconds(seconds);
  return true;
}

bool StrToLogSeconds(std::string_view text, std::int64_t& seconds) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':')
    return false;
  std::int32_t day = 0, month = 0, year = 0, second = 0, minute = 0, hour = 0;
  if (!DateTimeNumbers(text, year, month, day, hour, minute, second))
    return false;
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return false;
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + AutomationEpochToUnixEpochDays;
  seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::string_view TrimmedFieldText(std::string_view text) noexcept {
  text = TrimText(text);
  return text.size() == 1 && text[0] == '-' ? std::string_view() : text;
}

bool TLogSecondsReader::ReadNewDay(std::string_view text, std::int64_t& seconds) {
  if (!StrToLogSeconds(text, seconds))
    return false;
  // The date part alone gives the day, whatever form its numbers took.
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  std::memcpy(Day, text.data(), sizeof Day);
  DaySeconds = days * 86400;
  HasDay = true;
  return true;
}

namespace {

// Whether exactly three bits are set. std::popcount is a call into the
// compiler's runtime where the build may not assume the instruction.
constexpr bool HasThreeBitsSet(std::uint32_t bits) noexcept {
  const std::uint32_t third = bits & (bits - 1) & ((bits & (bits - 1)) - 1); // the lowest two cleared
  return third != 0 && (third & (third - 1)) == 0;
}
static_assert(HasThreeBitsSet(0b10101) && HasThreeBitsSet(0b111u << 29) && !HasThreeBitsSet(0b11) &&
              !HasThreeBitsSet(0b1111) && !HasThreeBitsSet(0));

// TryPlainIPv4Value where 16 bytes from the text on may be read: the lengths
// of the parts differ from line to line, so the parts are found from one mask
// of the dots and converted without a branch on their lengths.
bool TryPlainIPv4Block(std::string_view text, std::uint32_t& value) noexcept {
#if defined(ZELLOG_BYTESCAN_SSE2)
  const std::size_t size = text.size();
  if (size > 15)
    return false;
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
  const __m128i digits = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i dotBytes = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'));
  const std::uint32_t inText = (1u << size) - 1;
  const std::uint32_t dots = static_cast<std::uint32_t>(_mm_movemask_epi8(dotBytes)) & inText;
  // Bytes 0-9 after the subtraction, and no others, were digits.
  const std::uint32_t digitBytes =
      static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits))) &
      inText;
  if ((dots | digitBytes) != inText || !HasThreeBitsSet(dots))
    return false;
  // Byte i at digit[i + 3]; the zeros ahead stand for the missing hundreds and
  // tens of a short first part, a dot's zeroed byte for those of the others.
  unsigned char digit[3 + 16] = {};
  _mm_storeu_si128(reinterpret_cast<__m128i*>(digit + 3), _mm_andnot_si128(dotBytes, digits));
  const unsigned ends[4] = {static_cast<unsigned>(std::countr_zero(dots)),
                            static_cast<unsigned>(std::countr_zero(dots & (dots - 1))),
                            static_cast<unsigned>(31 - std::countl_zero(dots)), static_cast<unsigned>(size)};
  unsigned begin = 0;
  std::uint32_t result = 0;
  bool plain = true;
  for (const unsigned end : ends) {
    const unsigned length = end - begin; // an empty part gives 0
    const unsigned octet =
        digit[end + 2] + 10u * digit[end + 1] * (length >= 2) + 100u * digit[end] * (length >= 3);
    plain &= length - 1 < 3 && octet <= 255;
    result = result << 8 | (octet & 0xFF);
    begin = end + 1;
  }
  if (plain)
    value = result;
  return plain;
#else
  return TryPlainIPv4Value(text, value);
#endif
}

} // namespace

bool StrToIPv4Value(std::string_view text, std::uint32_t& value) {
  return StrToIPv4Value(text, text.data() + text.size(), value);
}

bool StrToIPv4Value(const char* data, std::size_t size, const char* readableEnd, std::uint32_t& value) {
  const std::string_view text(data, size);
  if (text.empty() || text == "-") {
    value = 0;
    return true;
  }
  if (readableEnd - text.data() >= 16 ? TryPlainIPv4Block(text, value) : TryPlainIPv4Value(text, value))
    return (value >> 24) != 0 && (value & 0xFF) != 0;
  // All dots are counted before a part is converted: with more or fewer than
  // three, the text fails without raising.
  std::size_t dots = 0;
  for (const char c : text)
    dots += c == '.' ? 1 : 0;
  if (dots != 3)
    return false;
  std::uint32_t result = 0;
  std::size_t begin = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t end = part < 3 ? text.find('.', begin) : text.size();
    const std::int32_t octet = StrToInt(text.substr(begin, end - begin));
    if (octet < 0 || octet > 255)
      throw ERangeError();
    result = (result << 8) | static_cast<std::uint32_t>(octet);
    begin = end + 1;
  }
  value = result;
  return (value >> 24) != 0 && (value & 0xFF) != 0;
}

bool StrToEventClass(const char* text, std::size_t size, TLogEventClass& value) {
  return FindText(EventClassVocabulary, std::string_view(text, size), value);
}

bool StrToAction(std::string_view text, TLogAction& value) { return FindText(ActionVocabulary, text, value); }

bool StrToActions(const char* data, std::size_t size, TLogActions& value) {
  std::string_view text(data, size);
  value.Clear();
  if (text.empty() || text == "-")
    return true;
  if (text.back() == '+')
    text.remove_suffix(1);
  // Short and on every current-format line: a plain loop, not a call into the
  // runtime, finds the separators.
  for (const char* p = text.data(), *const end = p + text.size();;) {
    const char* plus = p;
    while (plus != end && *plus != '+')
      ++plus;
    TLogAction action{};
    if (!StrToAction(std::string_view(p, static_cast<std::size_t>(plus - p)), action))
      return false;
    value.Include(action);
    if (plus == end)
      return true;
    p = plus + 1;
  }
}

bool StrToLegacyEventClass(const char* data, std::size_t size, TLogEventClass& eventClass, TLogActions& actions) {
  const std::string_view text(data, size);
  actions.Clear();
  const int index = LegacyClassVocabulary.Find(text);
  if (index < 0)
    return false;
  eventClass = LegacyClasses[index].Class;
  actions.Bits = LegacyClasses[index].Actions;
  return true;
}

bool StrToFilteringPoint(const char* data, std::size_t size, TFilteringPoint& value) {
  const std::string_view text(data, size);
  if (SameVocabularyWord(text, "BeforeArrival"))
    value = TFilteringPoint::BeforeArrival;
  else if (SameVocabularyWord(text, "OnArrival"))
    value = TFilteringPoint::OnArrival;
  else if (text.empty() || text == "-")
    value = TFilteringPoint::NonFiltering;
  else
    return false;
  return true;
}

bool StrToSeverity(const char* text, std::size_t size, TLogSeverity& value) {
  return FindText(SeverityVocabulary, std::string_view(text, size), value);
}

std::string_view EventClassToDisplayText(TLogEventClass value) noexcept {
  return DisplayText(EventClassDisplayTexts, static_cast<std::uint8_t>(value));
}

std::string_view SeverityToDisplayText(TLogSeverity value) noexcept {
  return DisplayText(SeverityDisplayTexts, static_cast<std::uint8_t>(value));
}

std::string_view FilteringPointToDisplayText(TFilteringPoint value) noexcept {
  return DisplayText(FilteringPointDisplayTexts, static_cast<std::uint8_t>(value));
}
