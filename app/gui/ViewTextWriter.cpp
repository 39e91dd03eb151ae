#include "app/gui/ViewTextWriter.h"

#include <wx/image.h>
#include <wx/window.h>

#include <algorithm>

CViewTextWriter::CViewTextWriter(const wxWindow* window)
    : m_font(window ? window->GetFont() : *wxNORMAL_FONT), m_measureBitmap(1, 1, 24) {
  if (!m_font.IsOk()) m_font = *wxNORMAL_FONT;
  m_measure.SelectObject(m_measureBitmap);
  m_measure.SetFont(m_font);
}

CViewTextWriter::~CViewTextWriter() { m_measure.SelectObject(wxNullBitmap); }

int32_t CViewTextWriter::TextWidth(const std::string& text) {
  return text.empty() ? 0 : m_measure.GetTextExtent(wxString::FromUTF8(text)).x;
}

int32_t CViewTextWriter::LineHeight() { return m_measure.GetCharHeight(); }

void CViewTextWriter::InvertText(orb::ViewCanvas& canvas, orb::Point at, const std::string& text,
                                 const orb::Rect& clip) {
  const wxString s = wxString::FromUTF8(text);
  if (s.empty()) return;
  const wxSize extent = m_measure.GetTextExtent(s);
  if (extent.x <= 0 || extent.y <= 0) return;
  // The glyphs in white on black; a pixel at least half lit counts as part of a glyph.
  wxBitmap glyphs(extent.x, extent.y, 24);
  {
    wxMemoryDC dc(glyphs);
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    dc.SetFont(m_font);
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText(s, 0, 0);
  }
  const wxImage mask = glyphs.ConvertToImage();
  const int32_t left = std::max({clip.left, at.x, 0}), right = std::min({clip.right, at.x + extent.x, canvas.Width()});
  const int32_t top = std::max({clip.top, at.y, 0}), bottom = std::min({clip.bottom, at.y + extent.y, canvas.Height()});
  for (int32_t y = top; y < bottom; ++y) {
    for (int32_t x = left; x < right; ++x) {
      if (mask.GetGreen(x - at.x, y - at.y) >= 128) canvas.InvertPixel(x, y);
    }
  }
}
