#include "LogDefs_un.h"

namespace {

constexpr TLogViewColumn ColumnDefaults[TLogViewColumns::Count] = {
    {0, 0, 0, 1, 107, 0},  {1, 0, 0, 1, 91, 0},   {2, 0, 0, 1, 150, 0},  {3, 0, 0, 1, 70, 0},
    {4, 1, 1, 1, 130, 1},  {5, 1, 0, 1, 97, 0},   {6, 1, 0, 1, 72, 0},   {8, 1, 0, 1, 83, 0},
    {10, 1, 0, 1, 100, 1}, {11, 0, 0, 1, 200, 0}, {12, 1, 0, 1, 150, 0}, {13, 1, 0, 1, 150, 0},
    {15, 1, 0, 1, 200, 0}, {7, 1, 0, 1, 90, 1},   {14, 1, 0, 1, 150, 0}, {9, 1, 0, 1, 90, 0},
};

void CheckRowColorArguments(int kind, int index, const char* operation) {
  if (kind < 0 || kind >= TRowColorSettings::RowKindCount)
    throw ERowColorSettingsError(std::string("Invalid kind in ") + operation + "()");
  if (index != TRowColorSettings::BackgroundIndex && index != TRowColorSettings::TextIndex)
    throw ERowColorSettingsError(std::string("Invalid index in ") + operation + "()");
}

struct TRowColorDefault {
  int Kind;
  std::uint32_t Background;
  bool HasText;
  std::uint32_t Text;
};

TRowColorSettings MakeRowColors(const TRowColorDefault (&defaults)[3]) {
  TRowColorSettings settings;
  for (const TRowColorDefault& entry : defaults) {
    settings.SetColor(entry.Kind, TRowColorSettings::BackgroundIndex, entry.Background);
    settings.SetUseCustomSetting(entry.Kind, TRowColorSettings::BackgroundIndex, true);
    if (entry.HasText) {
      settings.SetColor(entry.Kind, TRowColorSettings::TextIndex, entry.Text);
      settings.SetUseCustomSetting(entry.Kind, TRowColorSettings::TextIndex, true);
    }
  }
  return settings;
}

constexpr TRowColorDefault DefaultRowColorValues[3] = {
    {1, 0x00ECF8, false, 0}, {2, 0x1010BE, true, 0xFFFFFF}, {3, 0x00007D, true, 0xFFFFFF}};
constexpr TRowColorDefault BasicRowColorValues[3] = {
    {1, 0x00FFFF, false, 0}, {2, 0x0000FF, true, 0xFFFFFF}, {3, 0x000080, true, 0xFFFFFF}};

} // namespace

TLogViewColumns::TLogViewColumns() {
  for (int i = 0; i < Count; ++i)
    Columns[static_cast<std::size_t>(i)] = ColumnDefaults[i];
}

TLogViewColumn& TLogViewColumns::Column(int entry) {
  if (entry < 0 || entry >= Count)
    throw ERangeError();
  return Columns[static_cast<std::size_t>(entry)];
}

const TLogViewColumn& TLogViewColumns::Column(int entry) const {
  return const_cast<TLogViewColumns*>(this)->Column(entry);
}

TRowColorSettings::TRowColorSettings() {
  for (auto& kind : Settings) {
    kind[BackgroundIndex] = {SystemWindowColor, false};
    kind[TextIndex] = {SystemWindowTextColor, false};
  }
}

void TRowColorSettings::SetColor(int kind, int index, std::uint32_t color) {
  CheckRowColorArguments(kind, index, "SetColor");
  Settings[static_cast<std::size_t>(kind)][static_cast<std::size_t>(index)].Color = color;
}

void TRowColorSettings::SetUseCustomSetting(int kind, int index, bool useCustomSetting) {
  CheckRowColorArguments(kind, index, "SetUseCustomSetting");
  Settings[static_cast<std::size_t>(kind)][static_cast<std::size_t>(index)].UseCustomSetting = useCustomSetting;
}

const TColorSetting& TRowColorSettings::Setting(int kind, int index) const {
  CheckRowColorArguments(kind, index, "Setting");
  return Settings[static_cast<std::size_t>(kind)][static_cast<std::size_t>(index)];
}

const TLogViewColumns DefaultLogViewColumns;
const TRowColorSettings DefaultRowColors = MakeRowColors(DefaultRowColorValues);
const TRowColorSettings BasicRowColors = MakeRowColors(BasicRowColorValues);
