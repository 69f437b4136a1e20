#include "LogGenerator.h"

#include "CivilDate_un.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;

// xoshiro256** seeded through splitmix64: small, fast and the same everywhere
// (the standard distributions are not).
class TRandom {
public:
  explicit TRandom(std::uint64_t seed) {
    for (auto& word : S) {
      seed += 0x9E3779B97F4A7C15ull;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t Next() {
    const std::uint64_t result = Rotl(S[1] * 5, 7) * 9;
    const std::uint64_t t = S[1] << 17;
    S[2] ^= S[0];
    S[3] ^= S[1];
    S[1] ^= S[2];
    S[0] ^= S[3];
    S[2] ^= t;
    S[3] = Rotl(S[3], 45);
    return result;
  }

  // Uniform in [0, n); the bias of the multiply-shift is far below anything a
  // synthetic log could show.
  std::uint32_t Below(std::uint32_t n) {
    return static_cast<std::uint32_t>(((Next() >> 32) * n) >> 32);
  }
  std::uint32_t Range(std::uint32_t lo, std::uint32_t hi) { return lo + Below(hi - lo + 1); }
  bool Percent(unsigned p) { return Below(100) < p; }
  bool PerMille(unsigned p) { return Below(1000) < p; }

  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<std::uint32_t>(N))];
  }

private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t S[4];
};

void AppendUInt(std::string& out, std::uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out += digits[--n];
}

void AppendTwoDigits(std::string& out, unsigned value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

void AppendHex(std::string& out, std::uint64_t value, int digits, bool upper = false) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += alphabet[(value >> shift) & 0xF];
}


// ---------------------------------------------------------------------------
// Vocabulary of the synthetic service.

enum class TColumn { Time, Source, Class, Action, FilteringPoint, Severity, ServerName, IP, Helo, MessageID,
                     Sender, Recipients, Subject, Message, Count };

struct TLayoutColumn {
  TColumn Column;
  std::string_view Name;
};

struct TLayout {
  bool Legacy;
  std::span<const TLayoutColumn> Columns;
};

constexpr TLayoutColumn FullCurrentColumns[] = {
    {TColumn::Time, "x-event-datetime"},   {TColumn::Source, "x-event-source"},
    {TColumn::Class, "x-event-class"},     {TColumn::Action, "x-event-action"},
    {TColumn::FilteringPoint, "x-filtering-point"}, {TColumn::Severity, "x-event-severity"},
    {TColumn::ServerName, "x-server-name"}, {TColumn::IP, "x-ip"},
    {TColumn::Helo, "x-helo-domain"},      {TColumn::MessageID, "x-msg-id"},
    {TColumn::Sender, "x-sender"},         {TColumn::Recipients, "x-recipients"},
    {TColumn::Subject, "x-msg-subject"},   {TColumn::Message, "x-event-msg"}};
constexpr TLayoutColumn CompactCurrentColumns[] = {
    {TColumn::Time, "x-event-datetime"},   {TColumn::Class, "x-event-class"},
    {TColumn::Action, "x-event-action"},   {TColumn::FilteringPoint, "x-filtering-point"},
    {TColumn::Severity, "x-event-severity"}, {TColumn::IP, "x-ip"},
    {TColumn::Sender, "x-sender"},         {TColumn::Recipients, "x-recipients"},
    {TColumn::Subject, "x-msg-subject"},   {TColumn::Message, "x-event-msg"}};
constexpr TLayoutColumn ClientIPCurrentColumns[] = {
    {TColumn::Time, "x-event-datetime"},   {TColumn::Source, "x-event-source"},
    {TColumn::Class, "x-event-class"},     {TColumn::Action, "x-event-action"},
    {TColumn::FilteringPoint, "x-filtering-point"}, {TColumn::Severity, "x-event-severity"},
    {TColumn::IP, "c-ip"},                 {TColumn::MessageID, "x-msg-id"},
    {TColumn::Sender, "x-sender"},         {TColumn::Recipients, "x-recipients"},
    {TColumn::Subject, "x-msg-subject"},   {TColumn::Message, "x-event-msg"}};
constexpr TLayoutColumn PlainLegacyColumns[] = {
    {TColumn::Time, "x-event-datetime"}, {TColumn::Class, "x-event-class"},
    {TColumn::Severity, "x-event-severity"}, {TColumn::IP, "x-ip"},
    {TColumn::Sender, "x-sender"},       {TColumn::Recipients, "x-recipients"},
    {TColumn::Message, "x-event-msg"}};
constexpr TLayoutColumn RichLegacyColumns[] = {
    {TColumn::Time, "x-event-datetime"}, {TColumn::Source, "x-event-source"},
    {TColumn::Class, "x-event-class"},   {TColumn::Severity, "x-event-severity"},
    {TColumn::IP, "c-ip"},               {TColumn::Helo, "x-helo-domain"},
    {TColumn::Sender, "x-sender"},       {TColumn::Recipients, "x-recipients"},
    {TColumn::Subject, "x-msg-subject"}, {TColumn::Message, "x-event-msg"}};

constexpr TLayout CurrentLayouts[] = {
    {false, FullCurrentColumns}, {false, FullCurrentColumns}, {false, CompactCurrentColumns},
    {false, ClientIPCurrentColumns}};
constexpr TLayout LegacyLayouts[] = {{true, PlainLegacyColumns}, {true, RichLegacyColumns}};

enum class TMessageKind { Accepted, RecipientAccepted, Dnsbl, SpamRejected, SubjectTagged, HeaderTagged,
                          RejectedAndTagged, Redirected, AttachmentReplaced, RecipientRemoved,
                          RecipientWhitelisted, SenderWhitelisted, Service, AutoWhitelist };

struct TScenario {
  std::string_view Class;
  std::string_view Action;
  std::string_view LegacyWord;
  std::string_view FilteringPoint;
  std::string_view Source;
  TMessageKind Message;
  unsigned Weight;
};

constexpr TScenario Scenarios[] = {
    {"Pass", "-", "AcceptMail", "OnArrival", "SMTP", TMessageKind::Accepted, 380},
    {"Pass", "-", "AcceptRecipient", "BeforeArrival", "SMTP", TMessageKind::RecipientAccepted, 120},
    {"Blacklist", "Reject", "Block", "BeforeArrival", "DNSBL", TMessageKind::Dnsbl, 140},
    {"Blacklist", "Reject", "RejectMail", "OnArrival", "Antispam", TMessageKind::SpamRejected, 90},
    {"Blacklist", "TagSubject", "TagMailSubject", "OnArrival", "Antispam", TMessageKind::SubjectTagged, 50},
    {"Blacklist", "TagHeader", "TagMailHeader", "OnArrival", "Antispam", TMessageKind::HeaderTagged, 30},
    {"Blacklist", "Reject+TagSubject", "RejectMail", "OnArrival", "Antispam", TMessageKind::RejectedAndTagged, 20},
    {"Blacklist", "Redirect", "RedirectMail", "OnArrival", "Policy", TMessageKind::Redirected, 10},
    {"Intermediate", "ReplaceAttachment", "ReplaceMailAttachment", "OnArrival", "Attachment",
     TMessageKind::AttachmentReplaced, 25},
    {"Intermediate", "RemoveRecipient", "RemoveMailRecipient", "BeforeArrival", "Policy",
     TMessageKind::RecipientRemoved, 15},
    {"Intermediate", "WhitelistRecipient", "IgnoreMailRecipient", "BeforeArrival", "Policy",
     TMessageKind::RecipientWhitelisted, 10},
    {"Whitelist", "-", "IgnoreMail", "BeforeArrival", "Whitelist", TMessageKind::SenderWhitelisted, 60},
    {"System", "-", "ServiceMsg", "-", "Service", TMessageKind::Service, 40},
    {"System", "-", "AddToAutoSenderWhitelist", "-", "AutoWhitelist", TMessageKind::AutoWhitelist, 10},
};

constexpr unsigned TotalScenarioWeight() {
  unsigned total = 0;
  for (const auto& s : Scenarios) total += s.Weight;
  return total;
}

constexpr std::string_view LocalParts[] = {
    "john.smith", "m.mueller", "info", "sales", "noreply", "anna.kowalska", "jp.dupont", "support",
    "billing", "newsletter", "j\xFC" "rgen.wei\xDF", "helpdesk", "k.tanaka", "office", "marketing",
    "a.rossi", "postmaster", "hr", "buchhaltung", "s.andersson"};
constexpr std::string_view ExternalDomains[] = {
    "example.com", "example.org", "mail.example.de", "shop.example.fr", "bulk-mailer.example.biz",
    "newsletter.example.net", "partner.example.it", "cheap-offers.example.info", "bank.example.ch",
    "univ.example.edu"};
constexpr std::string_view InternalDomains[] = {"corvane-demo.example", "sales.corvane-demo.example"};
constexpr std::string_view Servers[] = {"MAIL1", "MAIL2", "MX01", "MX02", "EDGE-FRA1"};
constexpr std::string_view TimeZones[] = {"GMT+0100", "GMT+0200", "UTC", "GMT-0500", "GMT+0000"};
constexpr std::string_view FirstOctets[] = {"62",  "77",  "80",  "81",  "85",  "91",  "93",  "109", "178",
                                            "185", "188", "193", "194", "195", "203", "212", "213", "217"};
constexpr std::string_view HeloNames[] = {"mail", "mx", "smtp", "out", "relay", "mta"};
constexpr std::string_view Dnsbls[] = {"zen.dnsbl.example", "bl.spam.example", "psbl.example.org"};
constexpr std::string_view SpamRules[] = {
    "BAYES_99", "HTML_IMAGE_ONLY_16", "URIBL_BLACK", "RDNS_NONE", "FREEMAIL_FROM", "MIME_HTML_ONLY",
    "SUBJ_ALL_CAPS", "FORGED_MUA", "DATE_IN_FUTURE", "MISSING_MID", "SPF_FAIL", "DKIM_INVALID",
    "HELO_DYNAMIC_IPADDR", "LOTS_OF_MONEY", "ADVANCE_FEE_2", "TVD_SPACE_RATIO"};
constexpr std::string_view Attachments[] = {
    "invoice.exe", "Pr\xE4" "sentation_Q2.scr", "photo.jpg.pif", "Angebot \x96 Bestellung.zip",
    "document.docm", "r\xE9" "sum\xE9.js", "update.bat"};
constexpr std::string_view ServiceMessages[] = {
    "Service started", "Service stopped", "Configuration reloaded",
    "Spam signature database updated to revision ", "Statistics: messages processed ",
    "Could not reach DNSBL server zen.dnsbl.example: timeout after 5000 ms",
    "Quarantine folder is above 90% of its quota", "License expires in 14 days",
    "Connection to the configuration database lost; retrying"};

struct TSubject {
  std::string_view Text;  // UTF-8
  bool Numbered;
};

constexpr TSubject Subjects[] = {
    {"Invoice ", true},
    {"Your order has shipped, tracking no. ", true},
    {"Re: Meeting on Thursday", false},
    {"Fwd: Quarterly report Q", true},
    {"R\xC3\xA9union de projet \xE2\x80\x93 ordre du jour", false},
    {"Gr\xC3\xBC\xC3\x9F" "e aus M\xC3\xBCnchen", false},
    {"\xC3\x9C" "berweisung best\xC3\xA4tigt", false},
    {"Oferta especial \xC2\xA1s\xC3\xB3lo hoy!", false},
    {"Zaproszenie na spotkanie \xE2\x80\x93 \xC5\x81\xC3\xB3" "d\xC5\xBA", false},
    {"\xD0\x92\xD1\x81\xD1\x82\xD1\x80\xD0\xB5\xD1\x87\xD0\xB0 \xD0\xB2 \xD0\xBF\xD0\xBE\xD0\xBD\xD0\xB5"
     "\xD0\xB4\xD0\xB5\xD0\xBB\xD1\x8C\xD0\xBD\xD0\xB8\xD0\xBA",
     false},
    {"\xE4\xBC\x9A\xE8\xAE\xAE\xE9\x80\x9A\xE7\x9F\xA5", false},
    {"Caf\xC3\xA9 \xE2\x98\x95 am Freitag?", false},
    {"Congratulations! You have won \xE2\x98\x85\xE2\x98\x85\xE2\x98\x85", false},
    {"Party time \xF0\x9F\x8E\x89 Saturday", false},
    {"Status report \xE2\x9C\x94 week ", true},
    {"Flight \xE2\x9C\x88 confirmation ", true},
    {"Urgent: your password expires today", false},
    {"100% free offer & more", false},
    {"Re: Q&A session (follow-up)", false},
    {"Newsletter #", true},
    {"\xF0\x9F\x98\x80 Smile, it's Friday", false},
};

constexpr std::string_view UnreservedChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"sv;

void AppendPercentEncoded(std::string& out, std::string_view text, bool lowerHex) {
  for (const char c : text) {
    if (c == ' ') {
      out += '+';
    } else if (UnreservedChars.find(c) != std::string_view::npos) {
      out += c;
    } else {
      out += '%';
      AppendHex(out, static_cast<unsigned char>(c), 2, !lowerHex);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------

struct TLogGenerator::TState {
  explicit TState(const TLogGenOptions& options)
      : Options(options), Random(options.Seed),
        Day(DaysFromCivil(options.StartYear, static_cast<unsigned>(options.StartMonth),
                          static_cast<unsigned>(options.StartDay))) {
    if (Options.MaxBlockLines < Options.MinBlockLines) Options.MaxBlockLines = Options.MinBlockLines;
    TimeZone = TimeZones[0];
    HomeServer = Random.Pick(Servers);
    SetDateText();
  }

  TLogGenOptions Options;
  TRandom Random;
  TLogGenStats Stats;

  std::int64_t Day;
  std::uint32_t SecondOfDay = 6 * 3600;
  char DateText[11] = {};

  std::vector<std::string> Header;
  std::size_t HeaderNext = 0;
  std::uint32_t BlockLinesLeft = 0;
  const TLayout* Layout = nullptr;
  bool Verbose = true;
  std::string_view TimeZone;
  std::string_view HomeServer;

  std::array<std::string, static_cast<std::size_t>(TColumn::Count)> Values;
  std::string Scratch;

  std::string& Value(TColumn column) { return Values[static_cast<std::size_t>(column)]; }

  void SetDateText() {
    const TCivilDate date = CivilFromDays(Day);
    std::string text;
    AppendUInt(text, static_cast<std::uint64_t>(date.Year));
    while (text.size() < 4) text.insert(text.begin(), '0');
    text += '-';
    AppendTwoDigits(text, date.Month);
    text += '-';
    AppendTwoDigits(text, date.Day);
    text.copy(DateText, 10);
  }

  void AdvanceClock() {
    // Bursty traffic: mostly a second or two apart, now and then a quiet spell.
    SecondOfDay += Random.Percent(2) ? Random.Range(10, 300) : Random.Below(3);
    if (SecondOfDay >= 86400) {
      SecondOfDay -= 86400;
      ++Day;
      SetDateText();
    }
  }

  void AppendTime(std::string& out) const {
    out.append(DateText, 10);
    out += 'T';
    AppendTwoDigits(out, SecondOfDay / 3600);
    out += ':';
    AppendTwoDigits(out, SecondOfDay / 60 % 60);
    out += ':';
    AppendTwoDigits(out, SecondOfDay % 60);
  }

  void StartBlock() {
    ++Stats.HeaderBlocks;
    const bool legacy = Random.Percent(Options.LegacyBlockPercent);
    if (legacy) ++Stats.LegacyBlocks;
    Layout = legacy ? &Random.Pick(LegacyLayouts)
                    : &Random.Pick(CurrentLayouts);
    Verbose = Random.Percent(legacy ? 50 : 85);
    if (Random.Percent(15)) TimeZone = Random.Pick(TimeZones);
    if (Random.Percent(10)) HomeServer = Random.Pick(Servers);

    Header.clear();
    HeaderNext = 0;
    if (legacy)
      Header.emplace_back("#Software: Tarnvel Zelwick Corvane Edition");
    else
      Header.emplace_back(Random.Percent(80) ? "#Software: Tarnvel ZEL Corvane Edition"
                                             : "#Software: Tarnvel ZEL Valtrix 3.1");
    Header.emplace_back(legacy ? (Random.Percent(80) ? "#Version: 1.4" : "#Version: 1.3")
                               : (Random.Percent(85) ? "#Version: 2.0" : "#Version: 1.5"));
    if (Random.Percent(50)) {
      std::string date = "#Date: ";
      date.append(DateText, 10);
      date += ' ';
      AppendTwoDigits(date, SecondOfDay / 3600);
      date += ':';
      AppendTwoDigits(date, SecondOfDay / 60 % 60);
      date += ":00";
      Header.push_back(std::move(date));
    }
    Header.emplace_back(Verbose ? (Random.Percent(70) ? "#LogMode: verbose" : "#LogMode: Verbose")
                                : "#LogMode: short");
    if (!legacy || Random.Percent(30)) Header.push_back("#Timezone: " + std::string(TimeZone));
    Header.push_back("#Server: " + std::string(HomeServer));
    std::string fields = "#Fields:";
    for (const auto& column : Layout->Columns) {
      fields += ' ';
      fields += column.Name;
    }
    Header.push_back(std::move(fields));
    BlockLinesLeft = Random.Range(Options.MinBlockLines, Options.MaxBlockLines);
  }

  const TScenario& PickScenario() {
    unsigned ticket = Random.Below(TotalScenarioWeight());
    for (const auto& scenario : Scenarios) {
      if (ticket < scenario.Weight) return scenario;
      ticket -= scenario.Weight;
    }
    return Scenarios[0];
  }

  void AppendAddress(std::string& out, bool internal) {
    out += Random.Pick(LocalParts);
    if (Random.Percent(10)) AppendUInt(out, Random.Range(1, 9999));
    out += '@';
    out += internal ? Random.Pick(InternalDomains)
                    : Random.Pick(ExternalDomains);
  }

  void AppendIPv4(std::string& out) {
    out += Random.Pick(FirstOctets);
    out += '.';
    AppendUInt(out, Random.Below(256));
    out += '.';
    AppendUInt(out, Random.Below(256));
    out += '.';
    AppendUInt(out, Random.Range(1, 254));
  }

  void AppendIPv6(std::string& out) {
    out += "2001:db8:";
    AppendHex(out, Random.Below(0x10000), 4);
    out += ':';
    AppendHex(out, Random.Below(0x10000), 1 + static_cast<int>(Random.Below(4)));
    out += "::";
    AppendHex(out, Random.Range(1, 0xFFFF), 1 + static_cast<int>(Random.Below(4)));
  }

  void AppendSubject(std::string& out, bool tagged) {
    if (Random.Percent(4)) {
      out += '-';
      return;
    }
    const TSubject& subject = Random.Pick(Subjects);
    Scratch.clear();
    if (tagged) Scratch += "[SPAM] ";
    Scratch += subject.Text;
    if (subject.Numbered) AppendUInt(Scratch, Random.Range(1, 99999));
    AppendPercentEncoded(out, Scratch, Random.Percent(5));
  }

  void AppendRuleHits(std::string& out, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      out += i == 0 ? "" : " ";
      out += Random.Pick(SpamRules);
      out += '=';
      AppendUInt(out, Random.Below(5));
      out += '.';
      AppendUInt(out, Random.Below(10));
    }
  }

  void AppendScore(std::string& out, unsigned low, unsigned high) {
    AppendUInt(out, Random.Range(low, high));
    out += '.';
    AppendUInt(out, Random.Below(10));
  }

  void AppendMessage(std::string& out, const TScenario& scenario, std::string_view ip,
                     std::string_view recipients) {
    switch (scenario.Message) {
      case TMessageKind::Accepted: {
        out += "Message accepted for delivery to ";
        const auto count = 1 + static_cast<unsigned>(std::count(recipients.begin(), recipients.end(), ';'));
        AppendUInt(out, count);
        out += count == 1 ? " recipient" : " recipients";
        if (Verbose) {
          out += " (size ";
          AppendUInt(out, Random.Range(900, 4'000'000));
          out += " bytes, score ";
          AppendScore(out, 0, 3);
          out += ')';
        }
        break;
      }
      case TMessageKind::RecipientAccepted:
        out += "Recipient accepted";
        break;
      case TMessageKind::Dnsbl:
        out += "Connection from ";
        out += ip;
        out += " rejected: listed on ";
        out += Random.Pick(Dnsbls);
        break;
      case TMessageKind::SpamRejected:
      case TMessageKind::RejectedAndTagged:
        out += "Rejected by local rule 'Spam score above 9.0' (score ";
        AppendScore(out, 9, 40);
        out += ')';
        break;
      case TMessageKind::SubjectTagged:
        out += "Subject tagged with [SPAM] (score ";
        AppendScore(out, 5, 8);
        out += ')';
        break;
      case TMessageKind::HeaderTagged:
        out += "Header X-Spam-Flag: YES added (score ";
        AppendScore(out, 4, 8);
        out += ')';
        break;
      case TMessageKind::Redirected:
        out += "Message redirected to quarantine@";
        out += InternalDomains[0];
        break;
      case TMessageKind::AttachmentReplaced:
        out += "Attachment '";
        out += Random.Pick(Attachments);
        out += "' replaced by a notice \x96 blocked file type";
        break;
      case TMessageKind::RecipientRemoved:
        out += "Recipient removed: mailbox does not exist";
        break;
      case TMessageKind::RecipientWhitelisted:
        out += "Recipient on the whitelist, spam checks skipped for this recipient";
        break;
      case TMessageKind::SenderWhitelisted:
        out += "Sender found on the whitelist";
        break;
      case TMessageKind::Service: {
        const std::string_view text = Random.Pick(ServiceMessages);
        out += text;
        if (text.back() == ' ') AppendUInt(out, Random.Range(1000, 999999));
        break;
      }
      case TMessageKind::AutoWhitelist:
        out += "Sender added to the automatic whitelist after ";
        AppendUInt(out, Random.Range(3, 12));
        out += " replies";
        break;
    }
    if (!Verbose) return;
    const bool scored = scenario.Message == TMessageKind::Accepted || scenario.Message == TMessageKind::SpamRejected ||
                        scenario.Message == TMessageKind::SubjectTagged ||
                        scenario.Message == TMessageKind::HeaderTagged ||
                        scenario.Message == TMessageKind::RejectedAndTagged;
    if (scored && Random.Percent(6)) {
      // Long diagnostic tail, now and then with a tab or a Windows-1252 byte.
      out += " \x97 rule hits: ";
      AppendRuleHits(out, Random.Range(20, 120));
      if (Random.Percent(20)) out += "\tcontinued";
      out += " \x80 cost ";
      AppendScore(out, 0, 9);
    } else if (scenario.Message == TMessageKind::SpamRejected || scenario.Message == TMessageKind::SubjectTagged) {
      out += ", rules: ";
      AppendRuleHits(out, Random.Range(2, 6));
    }
  }

  void FillEvent() {
    for (auto& value : Values) value.clear();
    const TScenario& scenario = PickScenario();
    const bool system = scenario.Class == "System"sv;

    AppendTime(Value(TColumn::Time));
    Value(TColumn::Source) = scenario.Source;
    Value(TColumn::Class) = Layout->Legacy ? scenario.LegacyWord : scenario.Class;
    Value(TColumn::Action) = scenario.Action;
    Value(TColumn::FilteringPoint) = scenario.FilteringPoint;

    std::string& severity = Value(TColumn::Severity);
    if (!system) {
      severity = Random.PerMille(5) ? "Warning" : "Info";
    } else {
      const unsigned roll = Random.Below(100);
      severity = roll < 70 ? "Info" : roll < 88 ? "Warning" : roll < 97 ? "Error" : "Critical";
      if (Random.Percent(10)) severity[0] = static_cast<char>(severity[0] | 0x20);
    }

    Value(TColumn::ServerName) = Random.Percent(80) ? HomeServer : Random.Pick(Servers);

    std::string& ip = Value(TColumn::IP);
    if (system)
      ip = Random.Percent(50) ? "127.0.0.1" : "-";
    else if (Random.Percent(8))
      AppendIPv6(ip);
    else
      AppendIPv4(ip);

    std::string& helo = Value(TColumn::Helo);
    if (system) {
      helo = "-";
    } else if (Random.Percent(6)) {
      helo = "%5B";
      helo += ip;
      helo += "%5D";
    } else {
      helo = Random.Pick(HeloNames);
      AppendUInt(helo, Random.Range(1, 20));
      helo += '.';
      helo += Random.Pick(ExternalDomains);
    }

    std::string& messageID = Value(TColumn::MessageID);
    if (system) {
      messageID = "-";
    } else {
      messageID = "<";
      AppendHex(messageID, Random.Next(), 16, true);
      messageID += '.';
      AppendHex(messageID, Random.Below(0x10000), 4, true);
      messageID += '@';
      messageID += Random.Pick(ExternalDomains);
      messageID += '>';
    }

    std::string& sender = Value(TColumn::Sender);
    if (system || Random.Percent(3))
      sender = "-";
    else
      AppendAddress(sender, false);

    std::string& recipients = Value(TColumn::Recipients);
    if (system) {
      recipients = "-";
    } else {
      const bool oneRecipient = scenario.Message == TMessageKind::RecipientAccepted ||
                                scenario.Message == TMessageKind::RecipientRemoved ||
                                scenario.Message == TMessageKind::RecipientWhitelisted;
      const unsigned count = oneRecipient || Random.Percent(75) ? 1 : Random.Range(2, 6);
      for (unsigned i = 0; i < count; ++i) {
        if (i) recipients += ';';
        AppendAddress(recipients, true);
      }
    }

    std::string& subject = Value(TColumn::Subject);
    if (system)
      subject = "-";
    else
      AppendSubject(subject, scenario.Message == TMessageKind::SubjectTagged ||
                                 scenario.Message == TMessageKind::RejectedAndTagged);

    AppendMessage(Value(TColumn::Message), scenario, ip, recipients);
  }

  // Spoils one field of the current event; returns true when the reader has
  // to report the line as an error, false when it has to skip it silently.
  bool Spoil() {
    switch (Random.Below(7)) {
      case 0:
        Value(TColumn::IP) = "::ffff:10.1.2.3";
        return true;
      case 1:
        Value(TColumn::IP) = "10.0.0.300";
        return true;
      case 2:
        Value(TColumn::Time).replace(0, 10, "2010-02-30");
        return false;
      case 3:
        Value(TColumn::Class) = "Quarantine";
        return false;
      case 4:
        Value(TColumn::Severity) = "Debug";
        return false;
      case 5:
        if (Layout->Legacy)
          Value(TColumn::Class) = "BlockMail";
        else
          Value(TColumn::Action) = "Reject++TagSubject";
        return false;
      default:
        if (Layout->Legacy)
          Value(TColumn::Time)[10] = 't';
        else
          Value(TColumn::FilteringPoint) = "Inbound";
        return false;
    }
  }

  void AppendDataLine(std::string& out) {
    AdvanceClock();
    bool spoiled = false;
    bool raises = false;
    if (Options.MalformedPerMille != 0 && Random.PerMille(Options.MalformedPerMille)) {
      spoiled = true;
      if (Random.Below(8) == 0) {
        // An empty line makes the reader report an error.
        out += "\r\n";
        ++Stats.ErrorLines;
        return;
      }
    }
    FillEvent();
    if (spoiled) raises = Spoil();
    bool first = true;
    for (const auto& column : Layout->Columns) {
      if (!first) out += ' ';
      first = false;
      out += Value(column.Column);
    }
    out += "\r\n";
    if (!spoiled)
      ++Stats.DataLines;
    else if (raises)
      ++Stats.ErrorLines;
    else
      ++Stats.SkippedLines;
  }

  bool NextLine(std::string& out) {
    if (Stats.Bytes >= Options.TargetBytes) return false;
    const std::size_t before = out.size();
    if (HeaderNext == Header.size() && BlockLinesLeft == 0) StartBlock();
    if (HeaderNext < Header.size()) {
      out += Header[HeaderNext++];
      out += "\r\n";
      ++Stats.DirectiveLines;
    } else {
      AppendDataLine(out);
      --BlockLinesLeft;
    }
    ++Stats.Lines;
    Stats.Bytes += out.size() - before;
    return true;
  }
};

TLogGenerator::TLogGenerator(const TLogGenOptions& options) : State(std::make_unique<TState>(options)) {}

TLogGenerator::~TLogGenerator() = default;

bool TLogGenerator::NextLine(std::string& out) { return State->NextLine(out); }

const TLogGenStats& TLogGenerator::Stats() const { return State->Stats; }

TLogGenStats GenerateLog(const TLogGenOptions& options, const TLogSink& sink) {
  constexpr std::size_t ChunkSize = 1u << 20;
  TLogGenerator generator(options);
  std::string chunk;
  chunk.reserve(ChunkSize + 8192);
  while (generator.NextLine(chunk)) {
    if (chunk.size() >= ChunkSize) {
      sink(chunk.data(), chunk.size());
      chunk.clear();
    }
  }
  if (!chunk.empty()) sink(chunk.data(), chunk.size());
  return generator.Stats();
}

std::string GenerateLogText(const TLogGenOptions& options, TLogGenStats* stats) {
  std::string text;
  const TLogGenStats result = GenerateLog(options, [&](const char* data, std::size_t size) { text.append(data, size); });
  if (stats) *stats = result;
  return text;
}

TLogGenStats WriteLogFile(const std::filesystem::path& path, const TLogGenOptions& options) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("Cannot create " + path.string());
  const TLogGenStats stats = GenerateLog(options, [&](const char* data, std::size_t size) {
    file.write(data, static_cast<std::streamsize>(size));
  });
  file.close();
  if (!file) throw std::runtime_error("Cannot write " + path.string());
  return stats;
}
