#include "color_control/TintwellCtrl.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/Folders.h"

namespace {

CTintwellCtrl* g_latest = nullptr;
// One classification dialog in the process at a time.
bool g_dialogExists = false;

std::string Format(const char* pattern, const std::string& arg) {
  std::string out = pattern;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out;
}

}  // namespace

std::string TintwellEnglishString(int id) {
  switch (id) {
    case 1: return "Tintwell Control";
    case 2: return "Tintwell Property Page";
    case 3: return "Index";
    case 4: return "Hue";
    case 5: return "Saturation";
    case 6: return "Count";
    case 7: return "Lightness";
    case 8: return "Merged to %d colors";
    case 200: return "General";
    case 215: return "Color Classification";
    case 221: return "Grid";
    case 222: return "Histogram";
    case 223: return "3D Cube";
    case 260: return "Unmerge";
    case 261: return "* Merge list:";
    default: return {};
  }
}

std::string TintwellStrings::Get(int id) const {
  if (lookup) {
    std::string s = lookup(id);
    if (!s.empty()) return s;
  }
  return TintwellEnglishString(id);
}

CTintwellCtrl::CTintwellCtrl(ViewFactory views, MessageFn message, ModuleLoader loader,
                             std::string moduleFolder)
    : views_(std::move(views)), message_(std::move(message)), loader_(std::move(loader)),
      moduleFolder_(std::move(moduleFolder)) {
  model_.SetPaletteSink([this](const uint8_t* p, uint32_t n, const uint8_t* l) {
    FirePaletteModified(p, n, l);
  });
  g_latest = this;
}

CTintwellCtrl::~CTintwellCtrl() {
  // The plain exports must never reach a control that is gone.
  if (g_latest == this) g_latest = nullptr;
  if (dialogOpen_) g_dialogExists = false;
  sinks_.clear();
  view_.reset();
}

CTintwellCtrl* CTintwellCtrl::Latest() { return g_latest; }

void CTintwellCtrl::Release() { delete this; }

void CTintwellCtrl::Advise(_DTintwellEvents* sink) {
  if (sink && std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
}

void CTintwellCtrl::Unadvise(_DTintwellEvents* sink) {
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void CTintwellCtrl::Fire(int32_t dispid) {
  const auto sinks = sinks_;  // a sink may unadvise itself from its handler
  for (auto* s : sinks) FireTintwellEvent(*s, dispid);
}

void CTintwellCtrl::FirePaletteModified(const uint8_t* pal, uint32_t n, const uint8_t* lut) {
  const auto sinks = sinks_;
  for (auto* s : sinks) s->PaletteModified(pal, n, lut);
}

void CTintwellCtrl::LoadLanguageModule() {
  strings_ = {};
  if (language_ == 9) return;
  const std::string name = "Lang" + std::to_string(language_) + "_ColorClass.xrs";
  const std::string path = orb::JoinPath(moduleFolder_, name);
  TintwellStrings loaded;
  if (loader_ && loader_(path, loaded)) {
    strings_ = loaded;
  } else if (message_) {
    message_(Format("Unable to load language resource %s, defaulting to English", name));
  }
}

TwBool CTintwellCtrl::InitClassify() {
  if (g_dialogExists) return kTwFalse;
  view_.reset();  // a dialog object left from an earlier session
  LoadLanguageModule();
  if (views_) view_ = views_(*this);
  dialogOpen_ = view_ && view_->Create();
  g_dialogExists = dialogOpen_;
  if (dialogOpen_) {
    builder_ = std::make_unique<CMedianCutQuantizer>(24);
    model_.ResetList();
  } else {
    view_.reset();
  }
  auto& t = model_.Tables();
  t.colorCount = t.activeCount = t.requestedCount = 0;
  return dialogOpen_ ? kTwTrue : kTwFalse;
}

std::array<uint8_t, 768> CTintwellCtrl::GetPalette() {
  // The control's palette is overwritten with a grey ramp and that ramp is returned: the
  // classified palette reaches the host through PaletteModified only.
  auto& pal = model_.Tables().palette;
  for (int k = 0; k < 256; ++k) pal[3 * k] = pal[3 * k + 1] = pal[3 * k + 2] = uint8_t(k);
  return pal;
}

TwBool CTintwellCtrl::SetPalette(const uint8_t* pPal) {
  if (!Ready() || !pPal) return kTwFalse;
  std::copy(pPal, pPal + 768, model_.Tables().palette.begin());
  model_.FillFromPalette();
  model_.Sort();
  view_->Redraw();
  if (!view_->IsShown()) {
    view_->Show();
    Fire(kEvDisplayUsingPalette);
  }
  return kTwTrue;
}

TwBool CTintwellCtrl::SetNumberOfColors(int16_t sNbr) {
  if (!Ready()) return kTwFalse;
  auto& t = model_.Tables();
  t.requestedCount = t.colorCount = sNbr;
  view_->SetCountRange(sNbr, sNbr);
  return kTwTrue;
}

TwBool CTintwellCtrl::BuildHistogram(const uint8_t* pLines, int32_t lLineWid, int32_t lLines) {
  if (!Ready()) return kTwFalse;
  builder_->AddPixels(pLines, lLineWid, lLines);
  return kTwTrue;
}

TwBool CTintwellCtrl::SetCursorToSelectCurrentColor() {
  if (view_) view_->SetPickCursor(205);
  return kTwTrue;
}

TwBool CTintwellCtrl::SetCursorToAreaMerge() {
  if (view_) view_->SetPickCursor(204);
  return kTwTrue;
}

TwBool CTintwellCtrl::SetCurrentColor(uint8_t bPalIdx) {
  if (!Ready()) return kTwFalse;
  const int rep = model_.RepresentativeOf(bPalIdx);
  if (rep >= 0) view_->MakeCurrent(rep);
  return kTwTrue;
}

TwBool CTintwellCtrl::MergeAreaToCurrentColor(const uint32_t* pArrMergeIdx) {
  if (!Ready() || !pArrMergeIdx) return kTwFalse;
  model_.MergeAreaIntoCurrent(pArrMergeIdx);
  view_->MakeCurrent(model_.Current());
  view_->Redraw();
  return kTwTrue;
}

TwBool CTintwellCtrl::RunClassify(TwBool fEdit) {
  if (!Ready()) return kTwFalse;
  auto& t = model_.Tables();
  if (fEdit) {
    view_->EnableClassify(false);
  } else {
    t.counts.fill(0);
    builder_->Run(t.requestedCount, &t.colorCount, t.lut.data(), t.palette.data(), t.counts.data());
    SetPalette(t.palette.data());
  }
  t.baseLut = t.lut;
  t.requestedCount = t.activeCount = t.colorCount;
  model_.MarkUnusedFrom(t.colorCount);
  view_->SetCountRange(t.colorCount, t.colorCount);
  FirePaletteModified(t.palette.data(), uint32_t(std::max(0, t.colorCount)), t.lut.data());
  view_->StartRefreshTimer();
  return kTwTrue;
}

TwBool CTintwellCtrl::SetScannerLut(const uint8_t* pLut) {
  if (!pLut) return kTwFalse;
  std::copy(pLut, pLut + 65536, model_.Tables().lut.begin());
  return kTwTrue;
}

TwBool CTintwellCtrl::SetLanguageAndHelpPath(uint16_t usLanguageID, const char* pszHelpPath) {
  language_ = usLanguageID;
  const std::string folder = pszHelpPath ? pszHelpPath : "";
  settingsFolder_ = folder;
  helpFile_ = orb::JoinPath(folder, "Tintwell" + std::to_string(usLanguageID) + ".hlp");
  // Showing help only reads the file: a read-only help file is fine.
  if (::access(helpFile_.c_str(), R_OK) != 0) {
    if (message_) message_(Format("Unable to load %s, defaulting to English help file", helpFile_));
    helpFile_ = orb::JoinPath(folder, "Tintwell9.hlp");
  }
  return kTwTrue;
}

bool CTintwellCtrl::Reclassify(int requested) {
  if (!Ready() || !model_.Reclassify(*builder_, requested)) return false;
  const auto& t = model_.Tables();
  view_->SetCountRange(t.colorCount, t.colorCount);
  return true;
}

void CTintwellCtrl::OnRefreshTimer() {
  if (!Ready()) return;
  model_.SortAndRebuild();
  model_.ApplyReplacement();
  model_.Report();
  view_->MakeCurrent(std::max(0, model_.RepresentativeOf(0)));
  view_->Redraw();
}

void CTintwellCtrl::OnDialogClosing(uint32_t state) {
  model_.WithdrawReplacement();
  model_.Report();
  Fire(kEvCancelRequestMergeArea);
  Fire(kEvCancelRequestCurrentColor);
  builder_.reset();
  for (auto* s : std::vector<_DTintwellEvents*>(sinks_)) s->HueflockDlgClosed(state);
  model_.ClearUndo();
}

void CTintwellCtrl::OnDialogDestroyed() {
  if (dialogOpen_) g_dialogExists = false;
  dialogOpen_ = false;
}
