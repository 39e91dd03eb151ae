// Reading a scan's file back: through the program's imaging library (every row, one byte a
// sample) and through an outside reader (tiffinfo, pdfimages, opj_decompress, identify).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/imagemill/imagemill.h"
#include "tests/common/ProcessUtil.h"

namespace orb::scantest {

// A decoded image, one byte per sample (bilevel as 0/255, palettes as indices).
struct Decoded {
  int width = 0, height = 0, bits = 0;
  int rc = IM_OK;
  std::vector<std::vector<uint8_t>> rows;
  IM_RGBQUAD colours[256] = {};
};

inline Decoded Decode(const std::string& path) {
  Decoded d;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    d.rc = IM_ERR_IO;
    return d;
  }
  IM_Init();
  auto header = [](void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colours, int*) -> int {
    auto* dd = static_cast<Decoded*>(user);
    dd->width = h->biWidth;
    dd->height = h->biHeight;
    dd->bits = h->biBitCount;
    if (dd->bits <= 8) std::memcpy(dd->colours, colours, sizeof(IM_RGBQUAD) << dd->bits);
    return 0;
  };
  auto lines = [](void* user, uint8_t* line, int, int) -> int {
    auto* dd = static_cast<Decoded*>(user);
    std::vector<uint8_t> row;
    if (dd->bits == 24) {
      row.assign(line, line + 3 * dd->width);
    } else if (dd->bits == 8) {
      row.assign(line, line + dd->width);
    } else if (dd->bits == 4) {
      for (int x = 0; x < dd->width; ++x) row.push_back(x % 2 ? line[x / 2] & 15 : line[x / 2] >> 4);
    } else if (dd->bits == 1) {
      for (int x = 0; x < dd->width; ++x) {
        const int bit = (line[x / 8] >> (7 - x % 8)) & 1;
        row.push_back(dd->colours[bit].rgbGreen > 127 ? 255 : 0);
      }
    }
    dd->rows.push_back(std::move(row));
    return 0;
  };
  d.rc = IM_ReadByCallback(fd, lines, header, &d);
  ::close(fd);
  // ORB_KEEP_FAILED names a folder that keeps a copy of every file read back, to look at
  // after a failing run.
  if (const char* keep = std::getenv("ORB_KEEP_FAILED")) {
    std::error_code ec;
    std::filesystem::copy_file(path, std::string(keep) + "/" + std::filesystem::path(path).filename().string(),
                               std::filesystem::copy_options::overwrite_existing, ec);
  }
  return d;
}

inline int RunShell(const std::string& cmd, std::string* out) { return orbtest::ShellExit(cmd + " 2>&1", out); }

// What an outside reader says of the file: "width height", or its complaint.
inline std::string OutsideSize(const std::string& path, uint32_t format, const std::string& dir) {
  std::string out;
  const std::string q = "'" + path + "'";
  switch (format & 0xFFFF) {
    case 1: {  // libtiff's own tools first: any warning is a fault of the file
      if (RunShell("tiffinfo -D " + q, &out) != 0 || out.find("Warning") != std::string::npos ||
          out.find("rror") != std::string::npos)
        return "tiffinfo: " + out;
      std::string dump;
      if (RunShell("tiffdump " + q, &dump) != 0 || dump.find("rror") != std::string::npos)
        return "tiffdump: " + dump;
      break;
    }
    case 4: {  // pdfimages lists the page's image
      if (RunShell("pdfimages -list " + q, &out) != 0 || out.find("rror") != std::string::npos)
        return "pdfimages: " + out;
      std::istringstream lines(out);
      std::string line;
      std::getline(lines, line);
      std::getline(lines, line);
      if (!std::getline(lines, line)) return "pdfimages: no image: " + out;
      std::istringstream f(line);
      std::string page, num, type, w, h;
      f >> page >> num >> type >> w >> h;
      return w + " " + h;
    }
    case 5: {  // OpenJPEG decodes it to a plain picture that ImageMagick then measures
      const std::string pnm = dir + "/decoded.pnm";
      std::filesystem::remove(pnm);
      if (RunShell("opj_decompress -i " + q + " -o '" + pnm + "'", &out) != 0 ||
          out.find("rror") != std::string::npos)
        return "opj_decompress: " + out;
      if (RunShell("identify -format '%w %h' '" + pnm + "'", &out) != 0) return "identify: " + out;
      return out;
    }
    default:
      break;
  }
  if (RunShell("identify -format '%w %h' " + q, &out) != 0) return "identify: " + out;
  return out;
}

inline bool LossyFormat(uint32_t format) {
  return format == 2 || format == 5 || format == 0x40004 || format == 0x40001;
}

inline std::string FormatExtension(uint32_t format) {
  switch (format & 0xFFFF) {
    case 1: return ".tif";
    case 2: return ".jpg";
    case 3: return ".png";
    case 4: return ".pdf";
    case 5: return ".jp2";
    default: return ".bmp";
  }
}

}  // namespace orb::scantest
