#include "app/gui/EngineHostGui.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/msgdlg.h>

#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "app/MessageText.h"
#include "engine/EngineHost.h"

namespace orb::gui {
namespace {

long IconStyle(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return wxICON_INFORMATION;
    case MessageIcon::Exclamation: return wxICON_EXCLAMATION;
    case MessageIcon::Error: return wxICON_ERROR;
    case MessageIcon::None: break;
  }
  return 0;
}

class WxNotifier final : public INotifier {
 public:
  void ShowMessage(int stringId, MessageIcon icon, const std::vector<MessageArg>& args) override {
    std::string text = FormatMessageText(LoadString(stringId), args);
    if (text.empty()) text = "(message " + std::to_string(stringId) + ")";
    Show(text, g_szAppTitle, icon);
  }
  void ShowText(std::string_view text, std::string_view caption, MessageIcon icon) override {
    Show(std::string(text), std::string(caption), icon);
  }

 private:
  static void Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    wxString t = wxString::FromUTF8(text), c = wxString::FromUTF8(caption.empty() ? g_szAppTitle : caption);
    if (!wxThread::IsMain()) {
      // Message boxes belong to the GUI thread; a worker's message is shown from there.
      wxTheApp->CallAfter([t, c, icon] { wxMessageBox(t, c, wxOK | IconStyle(icon)); });
      return;
    }
    wxMessageBox(t, c, wxOK | IconStyle(icon), wxTheApp ? wxTheApp->GetTopWindow() : nullptr);
  }
};

bool g_pumping = false;  // GUI thread only

class WxPump final : public IMessagePump {
 public:
  void PumpMessages() override {
    if (!wxThread::IsMain() || !wxTheApp || g_pumping) return;
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (!loop) return;
    g_pumping = true;
    loop->YieldFor(wxEVT_CATEGORY_ALL);
    g_pumping = false;
  }
};

}  // namespace

bool FilterPumpedKey(int eventType, int keyCode) {
  if (!g_pumping) return false;
  if (eventType != wxEVT_KEY_DOWN && eventType != wxEVT_KEY_UP && eventType != wxEVT_CHAR &&
      eventType != wxEVT_CHAR_HOOK)
    return false;
  if (eventType == wxEVT_KEY_DOWN && keyCode == WXK_ESCAPE) CancelFlag = 1;
  return true;
}

void InstallEngineHost() {
  static WxNotifier notifier;
  static WxPump pump;
  EngineHost host = Host();
  host.notifier = &notifier;
  if (!host.pump) host.pump = &pump;
  SetEngineHost(host);
}

}  // namespace orb::gui
