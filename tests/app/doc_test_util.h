// Images for the document and display tests: files written through the imaging library
// with a pixel rule, and records set up the way an opened document has them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ImageState.h"
#include "platform/imagemill/imagemill.h"

namespace doctest {

// Keeps the messages the engine asks for.
class KeptMessages : public orb::INotifier {
 public:
  void ShowMessage(int id, orb::MessageIcon, const std::vector<orb::MessageArg>& args) override {
    ids.push_back(id);
    const bool text = !args.empty() && std::holds_alternative<std::string>(args[0]);
    texts.push_back(text ? std::get<std::string>(args[0]) : std::string());
  }
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
  std::vector<int> ids;
  std::vector<std::string> texts;  // each message's first argument
};

// Sends the engine's messages to `kept` while it lives.
class KeepMessages {
 public:
  explicit KeepMessages(KeptMessages* kept) : m_saved(orb::Host()) {
    orb::EngineHost host = m_saved;
    host.notifier = kept;
    orb::SetEngineHost(host);
  }
  ~KeepMessages() { orb::SetEngineHost(m_saved); }

 private:
  orb::EngineHost m_saved;
};

struct Pattern {
  int32_t width = 0;
  int32_t height = 0;
  int bits = 24;        // 24 RGB, 8 grey (or palette with `palette`), 1 bilevel
  bool palette = false;
  // Sample of pixel (x, y), channel c (0 red, 1 green, 2 blue); bilevel: 0 black, else white.
  std::function<uint8_t(int32_t x, int32_t y, int c)> pixel;
};

inline int HeaderCb(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* p = static_cast<Pattern*>(user);
  h->biSize = 40;
  h->biWidth = p->width;
  h->biHeight = p->height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<uint16_t>(p->bits);
  h->biXPelsPerMeter = h->biYPelsPerMeter = 11811;  // 300 dpi
  if (p->bits == 8) {
    for (int i = 0; i < 256; ++i) {
      const uint8_t v = static_cast<uint8_t>(p->palette ? 255 - i : i);
      colors[i] = IM_RGBQUAD{v, static_cast<uint8_t>(p->palette ? i : v), v, 0};
    }
    *grey = p->palette ? 0 : 1;
    h->biClrUsed = 256;
  }
  if (p->bits == 1) {
    colors[0] = IM_RGBQUAD{0, 0, 0, 0};
    colors[1] = IM_RGBQUAD{255, 255, 255, 0};
    h->biClrUsed = 2;
    *grey = 0;
  }
  return IM_OK;
}

inline int LinesCb(void* user, uint8_t* line, int row, int bytes) {
  auto* p = static_cast<Pattern*>(user);
  std::fill(line, line + bytes, 0);
  for (int32_t x = 0; x < p->width; ++x) {
    if (p->bits == 24) {
      for (int c = 0; c < 3; ++c) line[3 * x + c] = p->pixel(x, row, c);
    } else if (p->bits == 8) {
      line[x] = p->pixel(x, row, 0);
    } else if (p->pixel(x, row, 0) != 0) {
      line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return IM_OK;
}

// Writes the pattern as `format` into `path`; true on success.
inline bool WritePattern(const std::string& path, uint32_t format, Pattern p) {
  IM_Init();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  int rc = IM_WriteByCallback(fd, format, LinesCb, HeaderCb, &p);
  ::close(fd);
  return rc == IM_OK;
}

// Decodes a file into rows of one byte a sample (24 bits: R, G, B); empty on failure.
struct Decoded {
  int32_t width = 0, height = 0, bits = 0;
  std::vector<std::vector<uint8_t>> rows;
};
inline int DecHeader(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD*, int*) {
  auto* d = static_cast<Decoded*>(user);
  d->width = h->biWidth;
  d->height = h->biHeight;
  d->bits = h->biBitCount;
  return IM_OK;
}
inline int DecLines(void* user, uint8_t* line, int, int bytes) {
  static_cast<Decoded*>(user)->rows.emplace_back(line, line + bytes);
  return IM_OK;
}
inline Decoded DecodeFile(const std::string& path) {
  Decoded d;
  IM_Init();
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return d;
  if (IM_ReadByCallback(fd, DecLines, DecHeader, &d) != IM_OK) d.rows.clear();
  ::close(fd);
  return d;
}

}  // namespace doctest
