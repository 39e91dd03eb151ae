// The view's text writer: texts of the overlays drawn with a window's font and laid into the
// picture by inverting the pixels under their glyphs, so that they read on any picture.
#pragma once

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/font.h>

#include "tools/ToolViewHooks.h"

class wxWindow;

class CViewTextWriter : public orb::ViewTextWriter {
 public:
  // Writes in `window`'s font.
  explicit CViewTextWriter(const wxWindow* window);
  ~CViewTextWriter() override;
  int32_t TextWidth(const std::string& text) override;
  int32_t LineHeight() override;
  void InvertText(orb::ViewCanvas& canvas, orb::Point at, const std::string& text, const orb::Rect& clip) override;

 private:
  wxFont m_font;
  wxBitmap m_measureBitmap;
  wxMemoryDC m_measure;
};
