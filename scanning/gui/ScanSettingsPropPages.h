// The general, media handling and extended pages of the scan settings sheet as windows:
// each is the module's template (145, 251, 155) with its controls by id, a thin view over
// its model in scanning/ScanSettingsPages.h.
#pragma once

#include <wx/panel.h>

#include <functional>
#include <map>
#include <memory>

#include "scanning/ScanSettingsPages.h"

namespace orb::gui {

// The page behaviour every settings page shares: the template, the controls by id, the
// copy of user input into the model and of the model's states onto the controls, and
// OnSetActive when its tab is chosen.
class SettingsPageView : public wxPanel {
 public:
  wxWindow* ControlWindow(int id) const;
  // Runs the model's OnSetActive and shows the result.
  virtual void OnSetActive() = 0;

 protected:
  class Host;
  SettingsPageView();
  ~SettingsPageView() override;
  // Creates the page from the module's template `templateId` (a bare page when the module
  // has none) and finds the model's controls in it.
  void Build(wxWindow* parent, int templateId, const std::map<int, ControlState>& controls);
  void BindActivation(wxWindow* parent);
  template <class F>
  void Run(F handler) {
    if (pushing_) return;
    Pull();
    handler();
    Push();
  }
  virtual ControlState& State(int id) = 0;
  // Binds `f` to the control's event `type`, run through Run.
  template <class E>
  void On(int id, const wxEventTypeTag<E>& type, std::function<void()> f);
  void OnKillFocus(int id, std::function<void()> f);
  void Pull();
  void Push();

  std::unique_ptr<Host> host_;
  std::map<int, wxWindow*> controls_;
  bool pushing_ = false;
};

}  // namespace orb::gui

class CGenScanSetPropPage : public orb::gui::SettingsPageView {
 public:
  static constexpr int kTemplateId = 145;
  explicit CGenScanSetPropPage(wxWindow* parent);
  void OnSetActive() override;
  orb::GeneralPageModel& Model() { return *model_; }

 private:
  orb::ControlState& State(int id) override { return model_->Control(id); }
  std::unique_ptr<orb::GeneralPageModel> model_;
};

class CGenScanSetExPropPage : public orb::gui::SettingsPageView {
 public:
  static constexpr int kTemplateId = 155;
  explicit CGenScanSetExPropPage(wxWindow* parent);
  void OnSetActive() override;
  orb::ExtendedPageModel& Model() { return *model_; }

 private:
  orb::ControlState& State(int id) override { return model_->Control(id); }
  std::unique_ptr<orb::ExtendedPageModel> model_;
};

class CScanMediaHandlingPropPage : public orb::gui::SettingsPageView {
 public:
  static constexpr int kTemplateId = 251;
  explicit CScanMediaHandlingPropPage(wxWindow* parent);
  void OnSetActive() override;
  orb::MediaPageModel& Model() { return *model_; }

 private:
  orb::ControlState& State(int id) override { return model_->Control(id); }
  std::unique_ptr<orb::MediaPageModel> model_;
};

namespace orb::gui {

// The compression-quality and TIFF options dialogs live with the program's other option
// dialogs; the program installs how to show them.
using FormatOptionsRunner = std::function<void(wxWindow* parent, FormatOptionsDialog dialog, int argument)>;
void SetFormatOptionsRunner(FormatOptionsRunner runner);

// Makes the scan settings sheet build its general, media handling and extended pages.
void InstallScanSettingsPages();

}  // namespace orb::gui
