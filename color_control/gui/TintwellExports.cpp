// The exports of libtintwell.so and the glue that gives the control its wx dialog.
#include <dlfcn.h>
#include <wx/msgdlg.h>
#include <wx/wfstream.h>
#include <wx/zipstrm.h>

#include <map>
#include <memory>
#include <sstream>

#include "color_control/TintwellCtrl.h"
#include "color_control/TintwellRegistration.h"
#include "color_control/gui/ClassificationDlg.h"

#define TINTWELL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The dialog as the control sees it. The wx window lives by wx's rules (it may be closed
// and destroyed by the user); this object lives by the control's.
class DialogView : public ClassificationView {
public:
  DialogView(CTintwellCtrl& ctrl, wxWindow* parent) : ctrl_(ctrl), parent_(parent) {}
  ~DialogView() override {
    if (!dlg_) return;
    dlg_->onGone = nullptr;
    dlg_->Detach();
    dlg_->Hide();
    dlg_->Destroy();
  }
  bool Create() override {
    dlg_ = new CClassificationDlg(parent_, ctrl_);
    dlg_->onGone = [this] { dlg_ = nullptr; };
    return true;
  }
  bool IsShown() const override { return dlg_ && dlg_->IsShown(); }
  void Show() override { if (dlg_) dlg_->Show(); }
  void Redraw() override { if (dlg_) dlg_->RedrawAll(); }
  void SetCountRange(int max, int pos) override { if (dlg_) dlg_->SetCountRange(max, pos); }
  void EnableClassify(bool on) override { if (dlg_) dlg_->EnableClassify(on); }
  void StartRefreshTimer() override { if (dlg_) dlg_->StartRefreshTimer(); }
  void SetPickCursor(int id) override {
    if (parent_) parent_->SetCursor(wxCursor(id == 204 ? wxCURSOR_PAINT_BRUSH : wxCURSOR_CROSS));
  }
  void MakeCurrent(int position) override { if (dlg_) dlg_->MakeCurrent(position); }

private:
  CTintwellCtrl& ctrl_;
  wxWindow* parent_;
  CClassificationDlg* dlg_ = nullptr;
};

std::string LibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LibraryPath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

std::string LibraryFolder() {
  const std::string p = LibraryPath();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

// The string table ("id<TAB>text" lines) of a language module.
bool LoadModule(const std::string& path, TintwellStrings& strings) {
  wxFFileInputStream file(wxString::FromUTF8(path));
  if (!file.IsOk()) return false;
  wxZipInputStream zip(file);
  std::unique_ptr<wxZipEntry> entry;
  while (entry.reset(zip.GetNextEntry()), entry) {
    if (entry->GetName() != "strings.txt") continue;
    std::string text;
    char buf[4096];
    while (zip.Read(buf, sizeof buf).LastRead() > 0) text.append(buf, zip.LastRead());
    auto table = std::make_shared<std::map<int, std::string>>();
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      (*table)[std::atoi(line.c_str())] = line.substr(tab + 1);
    }
    strings.lookup = [table](int id) {
      const auto it = table->find(id);
      return it == table->end() ? std::string() : it->second;
    };
    return true;
  }
  return false;
}

}  // namespace

TINTWELL_EXPORT uint32_t TintwellInterfaceVersion() { return kTintwellInterfaceVersion; }

TINTWELL_EXPORT _DTintwell* TintwellCreateControl(void* hostWindow, _DTintwellEvents* sink) {
  auto* parent = static_cast<wxWindow*>(hostWindow);
  auto* ctrl = new CTintwellCtrl(
      [parent](CTintwellCtrl& c) { return std::make_unique<DialogView>(c, parent); },
      [parent](const std::string& text) {
        wxMessageBox(wxString::FromUTF8(text), "Tintwell", wxOK | wxICON_WARNING, parent);
      },
      &LoadModule, LibraryFolder());
  ctrl->Advise(sink);
  return ctrl;
}

TINTWELL_EXPORT TwBool ExportedSetScannerLut(const uint8_t* pLut) {
  CTintwellCtrl* c = CTintwellCtrl::Latest();
  return c ? c->SetScannerLut(pLut) : kTwFalse;
}

TINTWELL_EXPORT TwBool ExportedSetPalette(const uint8_t* pPal) {
  CTintwellCtrl* c = CTintwellCtrl::Latest();
  return c ? c->SetPalette(pPal) : kTwFalse;
}

TINTWELL_EXPORT uint32_t DllRegisterServer() {
  return tintwell::RegisterServer(LibraryPath(), tintwell::ControlsFolder());
}

TINTWELL_EXPORT uint32_t DllUnregisterServer() {
  return tintwell::UnregisterServer(tintwell::ControlsFolder());
}
