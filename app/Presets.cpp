#include "app/Presets.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/AppGlobals.h"
#include "engine/SettingsRanges.h"
#include "engine/ToolSettings.h"
#include "platform/Files.h"
#include "tools/ToolRecords.h"
#include "tools/ToolTable.h"

namespace orb::presets {
namespace fs = std::filesystem;

namespace {

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 prefix of `s` (a damaged file may hold anything).
size_t ValidUtf8Prefix(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return i;
    for (size_t k = 1; k < len; ++k)
      if (!IsContinuation(static_cast<unsigned char>(s[i + k]))) return i;
    i += len;
  }
  return i;
}

// The longest prefix of at most `max` bytes that ends on a character boundary.
std::string_view CutOnCharacter(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t k = max;
  while (k > 0 && IsContinuation(static_cast<unsigned char>(s[k]))) --k;
  return s.substr(0, k);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

// Byte ranges of ScanSettings that a preset never changes.
struct Span {
  size_t offset;
  size_t size;
};
constexpr Span kProtected[] = {
    {0, 4},   {4, 4},   {8, 4},   {12, 4},  {16, 4},  {20, 4},  {24, 4},    // scanner identity
    {976, 4}, {984, 4}, {988, 4},                                           // model values
    {959, 1}, {960, 1}, {964, 1}, {972, 1}, {980, 1}, {983, 1},             // capabilities
    {51, kPathField},                                                       // next output file
    {1100, 1}, {1101, 16}, {1120, 4}, {1124, 4},                            // network connection
};

}  // namespace

HeaderBytes EncodeHeader(const HeaderFields& fields) {
  HeaderBytes out{};
  for (size_t i = 0; i < kFieldCount; ++i) {
    std::string_view text = CutOnCharacter(fields[i], kFieldSize);
    text = text.substr(0, std::min(text.find('\0'), text.size()));
    std::memcpy(out.data() + i * kFieldSize, text.data(), text.size());
  }
  return out;
}

HeaderFields DecodeHeader(const uint8_t* bytes, size_t size) {
  HeaderFields fields;
  for (size_t i = 0; i < kFieldCount && i * kFieldSize < size; ++i) {
    const size_t avail = std::min(kFieldSize, size - i * kFieldSize);
    std::string_view raw(reinterpret_cast<const char*>(bytes + i * kFieldSize), avail);
    raw = raw.substr(0, std::min(raw.find('\0'), raw.size()));
    raw = raw.substr(0, ValidUtf8Prefix(raw));
    while (!raw.empty() && IsSpace(static_cast<unsigned char>(raw.back()))) raw.remove_suffix(1);
    fields[i] = std::string(raw);
  }
  return fields;
}

std::string TrimLeft(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(static_cast<unsigned char>(text[i]))) ++i;
  return std::string(text.substr(i));
}

bool IsFactoryPreset(std::string_view name) { return EqualNoCase(name, kFactoryDefaults); }

NameProblem CheckName(std::string_view name) {
  // A file name holds at most 255 bytes and the longest extension takes four of them.
  constexpr size_t kMaxName = 255 - 4;
  if (name.empty()) return NameProblem::Empty;
  if (name.size() > kMaxName) return NameProblem::TooLong;
  if (name.front() == '.' || ValidUtf8Prefix(name) != name.size()) return NameProblem::BadCharacter;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '*' || c == '?' || c == '[') return NameProblem::BadCharacter;
  }
  return NameProblem::None;
}

std::vector<PresetTool>& PresetTools() {
  // The tool table tells which tools take part, their extensions and record sizes; the
  // tools' own code reads and writes their records, keeping loaded values in range.
  static std::vector<PresetTool> tools = [] {
    std::vector<PresetTool> out;
    for (const tools::FramePresetTool& entry : tools::FramePresetTools()) {
      const tools::ToolPageInfo* info = tools::FindTool(entry.toolId);
      if (!info || !info->presetExt) continue;
      PresetTool t;
      t.name = entry.name;
      t.ext = info->presetExt;
      t.size = info->recordBytes;
      t.save = [id = entry.toolId] { return tools::ToolRecordBytes(id); };
      t.load = [id = entry.toolId](const uint8_t* data, size_t n) { tools::SetToolRecordBytes(id, data, n); };
      out.push_back(std::move(t));
    }
    return out;
  }();
  return tools;
}

bool SetToolRefresh(std::string_view ext, std::function<void()> refresh) {
  for (PresetTool& t : PresetTools()) {
    if (ext == t.ext) {
      t.refresh = std::move(refresh);
      return true;
    }
  }
  return false;
}

FileWriter DefaultWriter() {
  return [](const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    return WriteFileAtomically(path, bytes, error);
  };
}

void KeepProtectedFields(const ScanSettingsRecord& live, ScanSettingsRecord& loaded) {
  uint8_t a[ScanSettingsRecord::kSize];
  uint8_t b[ScanSettingsRecord::kSize];
  live.Encode(a);
  loaded.Encode(b);
  for (const Span& s : kProtected) std::memcpy(b + s.offset, a + s.offset, s.size);
  loaded.Decode(b);
}

int SelectIndex(const std::vector<std::string>& names, std::string_view current) {
  if (names.empty()) return -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == current) return static_cast<int>(i);
  for (size_t i = 0; i < names.size(); ++i)
    if (StartsWithNoCase(names[i], current)) return static_cast<int>(i);
  return 0;
}

// ------------------------------------------------------------------- the store

PresetStore::PresetStore(std::string dataFolder, std::string familyTag, FileWriter writer)
    : data_(std::move(dataFolder)), tag_(std::move(familyTag)), writer_(std::move(writer)) {}

PresetStore PresetStore::Current() { return PresetStore(DataFolder(), g_scanFamilyTag); }

std::string PresetStore::Folder() const { return data_ + "/presets/" + tag_; }

std::string PresetStore::FilePath(std::string_view name, std::string_view ext) const {
  return Folder() + "/" + std::string(name) + "." + std::string(ext);
}

std::vector<std::string> PresetStore::List() const {
  std::vector<std::string> names;
  if (!HasFamily()) return names;
  std::error_code ec;
  for (fs::directory_iterator it(Folder(), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string ext = p.extension().string();
    const std::string stem = p.stem().string();
    // Staged files of a save in progress start with a dot, as no preset name does.
    if (!EqualNoCase(ext, ".pst") || stem.empty() || stem.front() == '.') continue;
    std::error_code fe;
    if (!it->is_regular_file(fe)) continue;
    names.push_back(stem);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
  });
  return names;
}

bool PresetStore::Exists(std::string_view name) const {
  return HasFamily() && FileExists(FilePath(name, kHeaderExt));
}

std::optional<HeaderFields> PresetStore::ReadHeader(std::string_view name) const {
  if (!HasFamily()) return std::nullopt;
  auto bytes = ReadFileBytes(FilePath(name, kHeaderExt), kHeaderSize);
  if (!bytes) return std::nullopt;
  return DecodeHeader(bytes->data(), bytes->size());
}

bool PresetStore::WriteHeader(std::string_view name, const HeaderFields& fields, std::string* error) const {
  if (!HasFamily() || CheckName(name) != NameProblem::None) {
    if (error) *error = "not a usable preset name";
    return false;
  }
  std::error_code ec;
  fs::create_directories(Folder(), ec);
  const HeaderBytes h = EncodeHeader(fields);
  return writer_(FilePath(name, kHeaderExt), std::vector<uint8_t>(h.begin(), h.end()), error);
}

bool PresetStore::Save(std::string_view name, const HeaderFields& fields, std::string* error) const {
  auto fail = [error](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  if (!HasFamily()) return fail("no scanner family is known, so there is no presets folder");
  if (CheckName(name) != NameProblem::None) return fail("not a usable preset name");
  if (IsFactoryPreset(name)) return fail("the factory preset cannot be overwritten");
  std::error_code ec;
  fs::create_directories(Folder(), ec);
  if (ec) return fail(Folder() + ": " + ec.message());
  if (SaveScanData() != SettingsWrite::Written) return fail(DataFile(kScanDataFile) + " could not be written");

  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  const HeaderBytes h = EncodeHeader(fields);
  files.emplace_back(kHeaderExt, std::vector<uint8_t>(h.begin(), h.end()));
  std::vector<uint8_t> scan(ScanSettingsRecord::kSize);
  ScanSettings.Encode(scan.data());  // the bytes "ScanData.dat" now holds
  files.emplace_back(kScanCopyExt, std::move(scan));
  for (const PresetTool& t : PresetTools()) files.emplace_back(t.ext, t.save());

  // Every file is staged beside its target before any target is replaced.
  std::vector<std::string> staged;
  auto dropStaged = [&staged](size_t from) {
    for (size_t i = from; i < staged.size(); ++i) std::remove(staged[i].c_str());
  };
  const std::string stagePrefix = Folder() + "/.preset-" + std::to_string(::getpid()) + "-";
  for (size_t i = 0; i < files.size(); ++i) {
    std::string tmp = stagePrefix + std::to_string(i);
    std::string why;
    if (!writer_(tmp, files[i].second, &why)) {
      dropStaged(0);
      return fail(FilePath(name, files[i].first) + ": " + why);
    }
    staged.push_back(std::move(tmp));
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (std::rename(staged[i].c_str(), FilePath(name, files[i].first).c_str()) != 0) {
      const std::string why = std::strerror(errno);
      dropStaged(i);
      return fail(FilePath(name, files[i].first) + ": " + why);
    }
  }
  return true;
}

PresetStore::LoadResult PresetStore::Load(std::string_view name) const {
  LoadResult r;
  if (!HasFamily() || CheckName(name) != NameProblem::None) return r;
  const std::string copy = FilePath(name, kScanCopyExt);
  if (auto bytes = ReadFileBytes(copy, ScanSettingsRecord::kSize + 1)) {
    if (bytes->size() != ScanSettingsRecord::kSize) {
      r.scanDamaged = true;
    } else {
      ScanSettingsRecord loaded;
      loaded.Decode(bytes->data());
      KeepProtectedFields(ScanSettings, loaded);
      // As a load of "ScanData.dat" does: stored values outside their ranges are mended.
      SetTextField(loaded.ResolutionText, "100 dpi");
      KeepScanSettingsInRange(loaded);
      r.colourWarning = ScanSettings.ScannerSubType == 0 && loaded.ColourMode >= 0 && loaded.ColourMode < 3;
      ScanSettings = loaded;
      r.scanLoaded = true;
      SaveScanData();
    }
  } else if (FileExists(copy)) {
    r.scanDamaged = true;
  }
  for (const PresetTool& t : PresetTools()) {
    const std::string path = FilePath(name, t.ext);
    auto bytes = ReadFileBytes(path, t.size);
    if (!bytes) {
      if (FileExists(path)) r.toolsUnreadable.push_back(t.name);
      continue;
    }
    t.load(bytes->data(), bytes->size());
    ++r.toolsLoaded;
    if (t.refresh) t.refresh();
  }
  return r;
}

PresetStore::DeleteResult PresetStore::Delete(std::string_view name, std::string* error) const {
  if (IsFactoryPreset(name)) return DeleteResult::Protected;
  if (!HasFamily() || CheckName(name) != NameProblem::None) {
    if (error) *error = "not a usable preset name";
    return DeleteResult::Failed;
  }
  std::vector<fs::path> doomed;
  std::error_code ec;
  for (fs::directory_iterator it(Folder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    // "<name>.<ext>" with a non-empty extension without a dot: "A.b.pst" belongs to "A.b".
    if (file.size() <= name.size() + 1 || file.compare(0, name.size(), name) != 0 || file[name.size()] != '.')
      continue;
    if (file.find('.', name.size() + 1) != std::string::npos) continue;
    doomed.push_back(it->path());
  }
  bool ok = true;
  for (const fs::path& p : doomed) {
    std::error_code re;
    if (!fs::remove(p, re) && re) {
      ok = false;
      if (error) *error = p.string() + ": " + re.message();
    }
  }
  return ok ? DeleteResult::Deleted : DeleteResult::Failed;
}

void PresetStore::EnsureFactoryPreset(const std::string& description) const {
  if (!HasFamily()) return;
  std::error_code ec;
  fs::create_directories(Folder(), ec);
  if (ec) return;
  if (!FileExists(FilePath(kFactoryDefaults, kHeaderExt))) {
    HeaderFields f;
    f[0] = description;
    const HeaderBytes h = EncodeHeader(f);
    writer_(FilePath(kFactoryDefaults, kHeaderExt), std::vector<uint8_t>(h.begin(), h.end()), nullptr);
  }
  for (const tools::FramePresetTool& entry : tools::FramePresetTools()) {
    const tools::ToolPageInfo* info = tools::FindTool(entry.toolId);
    if (!info || !info->presetExt) continue;
    const std::string path = FilePath(kFactoryDefaults, info->presetExt);
    if (!FileExists(path)) writer_(path, tools::FactoryToolRecordBytes(entry.toolId), nullptr);
  }
}

}  // namespace orb::presets
