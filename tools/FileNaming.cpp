#include "tools/FileNaming.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Bytes.h"

namespace orb {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text cut to `limit` bytes on a UTF-8 character boundary.
std::string Bounded(std::string_view s, size_t limit) {
  return std::string(s.substr(0, Utf8PrefixLength(s, limit)));
}

}  // namespace

std::vector<NameCounterRun> FindNameCounters(std::string_view name, char separator) {
  std::vector<NameCounterRun> runs;
  if (separator == '\0') return runs;
  for (size_t i = 0; i < name.size() && runs.size() < static_cast<size_t>(kMaxNameCounters); ++i) {
    if (name[i] != separator || i + 1 >= name.size() || !IsDigit(name[i + 1])) continue;
    NameCounterRun r;
    r.pos = i + 1;
    size_t j = r.pos;
    while (j < name.size() && IsDigit(name[j])) {
      // Saturate well inside int64 so a long run of digits never overflows.
      if (r.value < (INT64_MAX - 9) / 10) r.value = r.value * 10 + (name[j] - '0');
      ++j;
    }
    r.width = j - r.pos;
    r.digits = std::string(name.substr(r.pos, r.width));
    runs.push_back(r);
    i = j - 1;
  }
  return runs;
}

int32_t ParseCounterText(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t v = 0;
  while (i < text.size() && IsDigit(text[i])) {
    if (v <= INT32_MAX) v = v * 10 + (text[i] - '0');
    ++i;
  }
  if (negative) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

std::string FormatCounter(int64_t value, size_t width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  size_t pad = width > digits.size() + (value < 0 ? 1 : 0) ? width - digits.size() - (value < 0 ? 1 : 0) : 0;
  return (value < 0 ? "-" : "") + std::string(pad, '0') + digits;
}

std::vector<int64_t> AdvanceCounters(const std::vector<NameCounterRun>& counters,
                                     const NameCounter (&settings)[4]) {
  std::vector<int64_t> values;
  for (const auto& c : counters) values.push_back(c.value);
  // From the last counter found to the first; the carry into a counter is raised only by
  // the counter to its right wrapping. The fourth counter always advances; the others
  // advance on every call unless they are carry-only.
  bool carry = false;
  for (int k = static_cast<int>(values.size()) - 1; k >= 0; --k) {
    const NameCounter& s = settings[k];
    bool advance = k == kMaxNameCounters - 1 || s.CarryOnly == 0 || carry;
    carry = false;
    if (!advance) continue;
    values[k] += s.Step;
    if (values[k] > s.Limit) {
      values[k] = s.Start;
      carry = true;
    }
  }
  return values;
}

}  // namespace orb

CSetupFilenameDlg::CSetupFilenameDlg(std::string_view fileName, orb::ScanSettingsRecord& settings)
    : fileName_(orb::Bounded(fileName, orb::kMaxFileNameBytes)), settings_(settings) {}

char CSetupFilenameDlg::SeparatorChar() const { return settings_.NameSeparator[0]; }

bool CSetupFilenameDlg::MakeNextFileName() {
  orb::SplitName parts = orb::SplitFileName(fileName_);
  auto runs = orb::FindNameCounters(parts.name, SeparatorChar());
  if (runs.empty()) return false;
  auto values = orb::AdvanceCounters(runs, settings_.NameCounters);
  // Right to left, so the positions of the runs still to write stay valid when one grows.
  std::string name = parts.name;
  for (size_t k = runs.size(); k-- > 0;) {
    name.replace(runs[k].pos, runs[k].width, orb::FormatCounter(values[k], runs[k].width));
  }
  parts.name = name;
  std::string next = parts.Join();
  if (next.size() > orb::kMaxFileNameBytes) return false;
  fileName_ = std::move(next);
  return true;
}

void CSetupFilenameDlg::GetFileName(char* dest, size_t size) const {
  if (dest == nullptr || size == 0) return;
  orb::CopyText(dest, size, fileName_);
}

void CSetupFilenameDlg::SetNameControl(std::string name) {
  if (name.size() <= orb::kMaxFileNameBytes) c_.name = std::move(name);
}

void CSetupFilenameDlg::OnInitDialog() {
  c_.name = fileName_;
  char sep = SeparatorChar();
  c_.separator = sep ? std::string(1, sep) : std::string();
  for (int k = 0; k < 4; ++k) {
    const orb::NameCounter& n = settings_.NameCounters[k];
    c_.start[k] = std::to_string(n.Start);
    c_.limit[k] = std::to_string(n.Limit);
    c_.step[k] = std::to_string(n.Step);
    if (k < 3) c_.carry[k] = n.CarryOnly != 0;
  }
  UpdateCounterFields();
}

void CSetupFilenameDlg::UpdateCounterFields() {
  char sep = c_.separator.empty() ? '\0' : c_.separator[0];
  auto runs = orb::FindNameCounters(c_.name, sep);
  for (int k = 0; k < 4; ++k) {
    bool found = k < static_cast<int>(runs.size());
    c_.counterEnabled[k] = found;
    if (found) {
      const auto& r = runs[k];
      c_.start[k] = r.digits;
      int64_t limit = orb::ParseCounterText(c_.limit[k]);
      int64_t start = r.value;
      if (!(start < limit && c_.limit[k].size() <= r.width)) {
        // All nines of the counter's width (int32 holds nine of them).
        int64_t nines = 1;
        for (size_t i = 0; i < std::min<size_t>(r.width, 9); ++i) nines *= 10;
        c_.limit[k] = std::to_string(nines - 1);
      }
      if (k > 0) c_.carryEnabled[k - 1] = true;
    } else if (k > 0) {
      c_.carry[k - 1] = false;
      c_.carryEnabled[k - 1] = false;
    }
  }
}

void CSetupFilenameDlg::OnKillFocusLimit() {
  char sep = c_.separator.empty() ? '\0' : c_.separator[0];
  auto runs = orb::FindNameCounters(c_.name, sep);
  std::string name = c_.name;
  for (size_t k = runs.size(); k-- > 0;) {
    size_t width = std::min(c_.limit[k].size(), orb::kMaxCounterDigits);
    int64_t start = orb::ParseCounterText(c_.start[k]);
    name.replace(runs[k].pos, runs[k].width, orb::FormatCounter(start, width));
  }
  SetNameControl(std::move(name));
  UpdateCounterFields();
}

void CSetupFilenameDlg::OnKillFocusStart() {
  char sep = c_.separator.empty() ? '\0' : c_.separator[0];
  auto runs = orb::FindNameCounters(c_.name, sep);
  std::string name = c_.name;
  for (size_t k = runs.size(); k-- > 0;) {
    // The start text goes in as typed; a text that is no number ends the counter.
    name.replace(runs[k].pos, runs[k].width, orb::Bounded(c_.start[k], orb::kMaxCounterDigits));
  }
  SetNameControl(std::move(name));
  UpdateCounterFields();
}

void CSetupFilenameDlg::OnSetFocusSeparator() { separatorAtFocus_ = c_.separator; }

void CSetupFilenameDlg::OnKillFocusSeparator() {
  // One plain character; anything else is refused and the old separator comes back.
  if (c_.separator.size() != 1 || static_cast<unsigned char>(c_.separator[0]) >= 0x80) {
    c_.separator = separatorAtFocus_;
    return;
  }
  if (separatorAtFocus_.size() != 1 || c_.name.empty()) return;
  char from = separatorAtFocus_[0], to = c_.separator[0];
  std::string name = c_.name;
  std::replace(name.begin(), name.end(), from, to);
  c_.name = std::move(name);
  UpdateCounterFields();
}

void CSetupFilenameDlg::OnOK() {
  fileName_ = orb::Bounded(c_.name, orb::kMaxFileNameBytes);
  if (c_.separator.size() == 1 && static_cast<unsigned char>(c_.separator[0]) < 0x80) {
    settings_.NameSeparator[0] = c_.separator[0];
    settings_.NameSeparator[1] = '\0';
  } else if (c_.separator.empty()) {
    settings_.NameSeparator[0] = '\0';
  }
  for (int k = 0; k < 4; ++k) {
    orb::NameCounter& n = settings_.NameCounters[k];
    n.Start = orb::ParseCounterText(std::string_view(c_.start[k]).substr(0, 64));
    n.Limit = orb::ParseCounterText(std::string_view(c_.limit[k]).substr(0, 64));
    n.Step = orb::ParseCounterText(std::string_view(c_.step[k]).substr(0, 64));
    if (k < 3) n.CarryOnly = c_.carry[k] ? 1 : 0;
  }
}
