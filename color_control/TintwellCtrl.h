// The colour-classification control: the dispatch methods of _DTintwell over the palette
// builder and the classification model, firing the events to the advised sinks. The
// dialog is reached only through ClassificationView, so the control runs without a
// display in tests; libtintwell.so gives it the wx dialog.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "color_control/ClassificationModel.h"
#include "color_control/MedianCutQuantizer.h"
#include "color_control/TintwellInterface.h"

class CTintwellCtrl;

// The classification dialog as the control drives it.
class ClassificationView {
public:
  virtual ~ClassificationView() = default;
  // Makes the window (hidden); false when it cannot be made.
  virtual bool Create() = 0;
  virtual bool IsShown() const = 0;
  virtual void Show() = 0;
  virtual void Redraw() = 0;
  // The re-classification slider (range 1..max, at pos) and its count box.
  virtual void SetCountRange(int max, int pos) = 0;
  virtual void EnableClassify(bool on) = 0;
  virtual void StartRefreshTimer() = 0;
  // Cursor ids of the control's module: 204 area merge, 205 colour pick.
  virtual void SetPickCursor(int cursorId) = 0;
  // Makes a list position current (labels, sliders, merge list).
  virtual void MakeCurrent(int position) = 0;
};

// The control's strings: built-in English, replaced by a language module's table.
struct TintwellStrings {
  std::function<std::string(int id)> lookup;
  std::string Get(int id) const;
};

class CTintwellCtrl : public _DTintwell {
public:
  using ViewFactory = std::function<std::unique_ptr<ClassificationView>(CTintwellCtrl&)>;
  using MessageFn = std::function<void(const std::string&)>;
  // Loads a language module file into `strings`; false when it cannot.
  using ModuleLoader = std::function<bool(const std::string& path, TintwellStrings& strings)>;

  CTintwellCtrl(ViewFactory views, MessageFn message, ModuleLoader loader,
                std::string moduleFolder);
  ~CTintwellCtrl() override;

  // The most recently constructed control still alive, the target of the plain exports.
  static CTintwellCtrl* Latest();

  TwBool InitClassify() override;
  std::array<uint8_t, 768> GetPalette() override;
  TwBool SetPalette(const uint8_t* pPal) override;
  TwBool SetNumberOfColors(int16_t sNbr) override;
  TwBool BuildHistogram(const uint8_t* pLines, int32_t lLineWid, int32_t lLines) override;
  TwBool SetCursorToSelectCurrentColor() override;
  TwBool SetCurrentColor(uint8_t bPalIdx) override;
  TwBool SetCursorToAreaMerge() override;
  TwBool MergeAreaToCurrentColor(const uint32_t* pArrMergeIdx) override;
  TwBool RunClassify(TwBool fEdit) override;
  TwBool SetScannerLut(const uint8_t* pLut) override;
  TwBool SetLanguageAndHelpPath(uint16_t usLanguageID, const char* pszHelpPath) override;
  void Advise(_DTintwellEvents* sink) override;
  void Unadvise(_DTintwellEvents* sink) override;
  void Release() override;

  // For the dialog.
  CClassificationModel& Model() { return model_; }
  CMedianCutQuantizer* Builder() { return builder_.get(); }
  const TintwellStrings& Strings() const { return strings_; }
  const std::string& SettingsFolder() const { return settingsFolder_; }
  const std::string& HelpFile() const { return helpFile_; }
  bool DialogOpen() const { return dialogOpen_; }
  void Fire(int32_t dispid);
  void FirePaletteModified(const uint8_t* pal, uint32_t n, const uint8_t* lut);
  // Re-classification to `requested` colours from the histogram gathered so far.
  bool Reclassify(int requested);
  // The one-shot refresh after RunClassify: sort, rebuild, replacement, current colour.
  void OnRefreshTimer();
  // The dialog closes (1 OK, 2 Cancel): everything but the window itself is let go here.
  void OnDialogClosing(uint32_t state);
  // The dialog window is gone.
  void OnDialogDestroyed();

private:
  bool Ready() const { return dialogOpen_ && view_ && builder_; }
  void LoadLanguageModule();

  std::unique_ptr<ClassificationView> view_;
  std::unique_ptr<CMedianCutQuantizer> builder_;
  CClassificationModel model_;
  uint16_t language_ = 9;
  std::string settingsFolder_, helpFile_;
  std::vector<_DTintwellEvents*> sinks_;
  ViewFactory views_;
  MessageFn message_;
  ModuleLoader loader_;
  std::string moduleFolder_;
  TintwellStrings strings_;
  bool dialogOpen_ = false;
};

// The built-in English strings of the control's module.
std::string TintwellEnglishString(int id);
