// The engine's display sink over the progressive display: the opening of a document on
// the GUI thread and the scan hand their rows to it; it runs one ProgressiveDisplay at a
// time. The title update is given by the application (the document's UpdateTitle).
#pragma once

#include <functional>
#include <memory>

#include "app/Display.h"
#include "engine/EngineHost.h"

namespace orb {

class ProgressiveDisplaySink : public IDisplaySink {
 public:
  explicit ProgressiveDisplaySink(std::function<void(ImageState*)> updateTitle = {})
      : m_updateTitle(std::move(updateTitle)) {}
  void UpdateTitle(ImageState* image) override {
    if (m_updateTitle) m_updateTitle(image);
  }
  void BeginProgressiveDisplay(ImageState* image) override {
    m_display = std::make_unique<ProgressiveDisplay>(image);
  }
  void DrawIncomingBand(orb::BandStep step, const uint8_t* rows, int count) override {
    if (m_display) ::DrawIncomingBand(static_cast<int>(step), m_display.get(), rows, count);
  }
  void EndProgressiveDisplay() override { m_display.reset(); }

 private:
  std::function<void(ImageState*)> m_updateTitle;
  std::unique_ptr<ProgressiveDisplay> m_display;
};

}  // namespace orb
