// PDF holding one image: JPEG (DCTDecode) or Group 4 (CCITTFaxDecode /K -1), encoded into
// a temporary file and then written out around it; read back with qpdf (also Group 3,
// Flate-compressed and uncompressed grey or RGB images).
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/imagemill/JpegIo.h"
#include "platform/imagemill/MillInternal.h"
#include "platform/imagemill/TiffIo.h"

namespace mill {

namespace {

// Little-endian stores (this file stays C++17: see CMakeLists.txt).
void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr double kMaxPagePoints = 14400.0;  // 200 inches: the largest page side without UserUnit

std::string Num(double v) {
  char buf[64];
  // Locale-independent, shortest exact form.
  auto r = std::to_chars(buf, buf + sizeof buf, std::round(v * 1000.0) / 1000.0, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// Copies what qpdf hands out into a descriptor.
class ToFd : public Pipeline {
 public:
  explicit ToFd(int fd) : Pipeline("imagemill temp", nullptr), fd_(fd) {}
  void write(unsigned char const* data, size_t len) override {
    if (!WriteAt(fd_, pos_, data, len)) throw std::runtime_error("temporary write failed");
    pos_ += len;
  }
  void finish() override {}
  uint64_t size() const { return pos_; }

 private:
  int fd_;
  uint64_t pos_ = 0;
};

class PdfWriter : public ImageWriter {
 public:
  PdfWriter(uint32_t compression, WriteSettings s) : g4_(compression == 3), s_(std::move(s)) {}

  int Begin(int fd, const ImageDesc& d) override {
    fd_ = fd;
    d_ = d;
    if (!temp_.ok()) return IM_ERR_IO;
    if (g4_) {
      if (d.bitsPerPixel != 1) return IM_ERR_UNSUPPORTED;
      // Group 4 data code set bits as black.
      invert_ = !OneBitSetIsDark(d.colors);
      ImageDesc e = d;
      e.colors = {IM_RGBQUAD{255, 255, 255, 0}, IM_RGBQUAD{0, 0, 0, 0}};
      tiff_ = std::make_unique<TiffFile>(temp_.fd(), "w");
      TIFF* tif = tiff_->tif();
      if (!tif) return IM_ERR_IO;
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(d.width));
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(d.height));
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(d.height));  // one stream
      line_.resize(static_cast<size_t>(std::max<tmsize_t>(TIFFScanlineSize(tif), static_cast<tmsize_t>(d.RowBytes()))));
      return IM_OK;
    }
    if (!(d.bitsPerPixel == 24 || (d.bitsPerPixel == 8 && d.grey))) return IM_ERR_UNSUPPORTED;
    jpeg_ = MakeJpegWriter(s_);
    return jpeg_->Begin(temp_.fd(), d);
  }

  int Row(const uint8_t* row) override {
    if (rows_ >= d_.height) return IM_ERR_PARAM;
    ++rows_;
    if (jpeg_) return jpeg_->Row(row);
    if (!tiff_ || !tiff_->tif()) return IM_ERR_IO;
    std::memcpy(line_.data(), row, d_.RowBytes());
    if (invert_)
      for (size_t i = 0; i < d_.RowBytes(); ++i) line_[i] = static_cast<uint8_t>(~line_[i]);
    if (TIFFWriteScanline(tiff_->tif(), line_.data(), static_cast<uint32_t>(rows_ - 1), 0) < 0) return IM_ERR_IO;
    return IM_OK;
  }

  int Finish(bool complete) override {
    if (!jpeg_ && !tiff_) return IM_ERR_IO;
    if (!complete) {
      // A PDF image cannot end early: the missing rows are written white.
      std::vector<uint8_t> white(d_.RowBytes(), 0);
      const bool whiteIsSet = d_.bitsPerPixel != 1 || !OneBitSetIsDark(d_.colors);
      std::fill(white.begin(), white.end(), whiteIsSet ? 0xFF : 0x00);
      while (rows_ < d_.height)
        if (int rc = Row(white.data()); rc != IM_OK) return rc;
    }
    uint64_t offset = 0, length = 0;
    if (jpeg_) {
      if (int rc = jpeg_->Finish(true); rc != IM_OK) return rc;
      jpeg_.reset();
      const int64_t size = FileSize(temp_.fd());
      if (size <= 0) return IM_ERR_IO;
      length = static_cast<uint64_t>(size);
    } else {
      if (!tiff_->Close()) return IM_ERR_IO;
      tiff_.reset();
      TiffFile back(temp_.fd(), "rm");
      if (!back.tif()) return IM_ERR_IO;
      uint64_t* offs = nullptr;
      uint64_t* counts = nullptr;
      if (!TIFFGetField(back.tif(), TIFFTAG_STRIPOFFSETS, &offs) ||
          !TIFFGetField(back.tif(), TIFFTAG_STRIPBYTECOUNTS, &counts) || !offs || !counts ||
          TIFFNumberOfStrips(back.tif()) != 1)
        return IM_ERR_IO;
      offset = offs[0];
      length = counts[0];
    }
    try {
      return WritePdf(offset, length);
    } catch (const std::bad_alloc&) {
      return IM_ERR_MEMORY;
    } catch (...) {
      return IM_ERR_IO;
    }
  }

 private:
  // The file around the image is small and written here directly, the image data copied
  // from the temporary file in chunks: memory stays flat whatever the image's size (a
  // general PDF writer keeps each stream in memory while it writes it).
  int WritePdf(uint64_t offset, uint64_t length) {
    const double xdpi = d_.xPelsPerMeter > 0 ? PpmToDpi(d_.xPelsPerMeter) : 72.0;
    const double ydpi = d_.yPelsPerMeter > 0 ? PpmToDpi(d_.yPelsPerMeter) : xdpi;
    const double wpt = d_.width / xdpi * 72.0;
    const double hpt = d_.height / ydpi * 72.0;
    // Past 200 inches a side the page is given in larger units.
    const double unit = std::max(1.0, std::ceil(std::max(wpt, hpt) / kMaxPagePoints));
    const double bw = wpt / unit, bh = hpt / unit;

    uint64_t pos = 0;
    std::vector<uint64_t> offsets;
    auto put = [&](const std::string& text) {
      if (!WriteAt(fd_, pos, text.data(), text.size())) throw std::runtime_error("write");
      pos += text.size();
    };
    auto object = [&](const std::string& body) {
      offsets.push_back(pos);
      put(std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n");
    };
    put(unit > 1.0 ? "%PDF-1.6\n%\xE2\xE3\xCF\xD3\n" : "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 " + Num(bw) + " " + Num(bh) + " ]" +
           (unit > 1.0 ? " /UserUnit " + Num(unit) : std::string()) +
           " /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>");
    const std::string content = "q " + Num(bw) + " 0 0 " + Num(bh) + " 0 0 cm /Im0 Do Q\n";
    object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    std::string image = "<< /Type /XObject /Subtype /Image /Width " + std::to_string(d_.width) +
                        " /Height " + std::to_string(d_.height) + " /ColorSpace " +
                        (d_.bitsPerPixel == 24 ? "/DeviceRGB" : "/DeviceGray") + " /BitsPerComponent " +
                        (g4_ ? "1" : "8");
    if (g4_) {
      image += " /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns " + std::to_string(d_.width) +
               " /Rows " + std::to_string(d_.height) + " /BlackIs1 false >>";
    } else {
      image += " /Filter /DCTDecode";
    }
    image += " /Length " + std::to_string(length) + " >>\nstream\n";
    offsets.push_back(pos);
    put("5 0 obj\n" + image);
    std::vector<uint8_t> buf(256 * 1024);
    for (uint64_t done = 0; done < length;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), length - done));
      if (!ReadAt(temp_.fd(), offset + done, buf.data(), n) || !WriteAt(fd_, pos, buf.data(), n)) return IM_ERR_IO;
      pos += n;
      done += n;
    }
    put("\nendstream\nendobj\n");
    const uint64_t xref = pos;
    std::string table = "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (uint64_t o : offsets) {
      char line[32];
      std::snprintf(line, sizeof line, "%010llu 00000 n \n", static_cast<unsigned long long>(o));
      table += line;
    }
    table += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n";
    put(table);
    return IM_OK;
  }

  bool g4_;
  WriteSettings s_;
  int fd_ = -1;
  ImageDesc d_;
  TempFile temp_;
  std::unique_ptr<ImageWriter> jpeg_;
  std::unique_ptr<TiffFile> tiff_;
  std::vector<uint8_t> line_;
  bool invert_ = false;
  int32_t rows_ = 0;
};

// A one-strip TIFF around fax data, so that libtiff decodes it.
bool WrapFax(int tfd, uint64_t dataLen, int32_t w, int32_t h, int k, bool whiteIsOne,
             double xdpi, double ydpi) {
  // Header, then the data at offset 8, then the directory.
  uint8_t head[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
  const uint64_t dirAt = (8 + dataLen + 1) & ~uint64_t{1};
  if (dirAt > 0xFFFFFFF0u) return false;
  PutLE32(head + 4, static_cast<uint32_t>(dirAt));
  if (!WriteAt(tfd, 0, head, 8)) return false;
  struct E {
    uint16_t tag, type;
    uint32_t count, value;
  };
  const uint32_t ratAt = static_cast<uint32_t>(dirAt) + 2 + 12 * 12 + 4;
  std::vector<E> e = {
      {256, 4, 1, static_cast<uint32_t>(w)},
      {257, 4, 1, static_cast<uint32_t>(h)},
      {258, 3, 1, 1},
      {259, 3, 1, static_cast<uint32_t>(k < 0 ? 4 : 3)},
      {262, 3, 1, whiteIsOne ? 1u : 0u},
      {273, 4, 1, 8},
      {277, 3, 1, 1},
      {278, 4, 1, static_cast<uint32_t>(h)},
      {279, 4, 1, static_cast<uint32_t>(dataLen)},
      {282, 5, 1, ratAt},
      {283, 5, 1, ratAt + 8},
      {k < 0 ? uint16_t{296} : uint16_t{292}, static_cast<uint16_t>(k < 0 ? 3 : 4), 1,
       k < 0 ? 2u : (k > 0 ? 1u : 0u)},
  };
  std::sort(e.begin(), e.end(), [](const E& a, const E& b) { return a.tag < b.tag; });
  std::vector<uint8_t> dir(2 + 12 * e.size() + 4 + 16, 0);
  PutLE16(dir.data(), static_cast<uint16_t>(e.size()));
  for (size_t i = 0; i < e.size(); ++i) {
    uint8_t* p = dir.data() + 2 + 12 * i;
    PutLE16(p, e[i].tag);
    PutLE16(p + 2, e[i].type);
    PutLE32(p + 4, e[i].count);
    if (e[i].type == 3) PutLE16(p + 8, static_cast<uint16_t>(e[i].value));
    else PutLE32(p + 8, e[i].value);
  }
  uint8_t* r = dir.data() + 2 + 12 * e.size() + 4;
  PutLE32(r, static_cast<uint32_t>(std::lround(xdpi * 100)));
  PutLE32(r + 4, 100);
  PutLE32(r + 8, static_cast<uint32_t>(std::lround(ydpi * 100)));
  PutLE32(r + 12, 100);
  return WriteAt(tfd, dirAt, dir.data(), dir.size());
}

// Some converters (tiff2pdf with strip JPEG data) leave a second start-of-image marker
// between the tables and the frame. Returns where the data to decode start, after moving
// the header segments over a stray marker: -1 when the data are not JPEG at all.
int64_t SkipStraySoi(int fd, uint64_t size) {
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, 1u << 20)));
  if (head.size() < 4 || !ReadAt(fd, 0, head.data(), head.size())) return -1;
  if (head[0] != 0xFF || head[1] != 0xD8) return -1;
  size_t i = 2;
  while (i + 4 <= head.size()) {
    if (head[i] != 0xFF) return 0;
    const uint8_t m = head[i + 1];
    if (m == 0xD8) {
      // Shift SOI and everything before the stray marker up by two bytes.
      std::vector<uint8_t> moved(head.begin(), head.begin() + static_cast<long>(i));
      if (!WriteAt(fd, 2, moved.data(), moved.size())) return -1;
      return 2;
    }
    if (m == 0xDA || m == 0xD9) return 0;
    i += 2 + ((static_cast<size_t>(head[i + 2]) << 8) | head[i + 3]);
  }
  return 0;
}

double NumberOf(QPDFObjectHandle o, double fallback) {
  if (o.isInteger()) return static_cast<double>(o.getIntValue());
  if (o.isReal()) return o.getNumericValue();
  return fallback;
}

// Raw samples (grey or RGB, 1 or 8 bits) after qpdf has removed generic filters.
int ReadSamples(int tfd, uint64_t size, const ImageDesc& d, int bpc, int comps, ReadSink& sink) {
  const uint64_t rowBytes = (static_cast<uint64_t>(d.width) * static_cast<uint64_t>(bpc) * static_cast<uint64_t>(comps) + 7) / 8;
  if (rowBytes * static_cast<uint64_t>(d.height) > size) return IM_ERR_CORRUPT;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int32_t y = 0; y < d.height; ++y) {
    if (!ReadAt(tfd, rowBytes * static_cast<uint64_t>(y), row.data(), row.size())) return IM_ERR_CORRUPT;
    if (int rc = sink.Row(row.data(), y, row.size()); rc != IM_OK) return rc;
  }
  return IM_OK;
}

int ReadPdfImpl(int fd, ReadSink& sink) {
  QPDF pdf;
  pdf.setSuppressWarnings(true);
  FILE* f = DupStream(fd, "rb", 0);
  if (!f) return IM_ERR_IO;
  pdf.processFile("imagemill input", f, true);
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
  if (pages.empty()) return IM_ERR_CORRUPT;
  QPDFPageObjectHelper page = pages.front();
  QPDFObjectHandle image;
  for (auto& [name, obj] : page.getImages()) {
    image = obj;
    break;
  }
  if (!image.isInitialized() || !image.isStream()) return IM_ERR_UNSUPPORTED;
  QPDFObjectHandle dict = image.getDict();
  const long long w = dict.getKey("/Width").isInteger() ? dict.getKey("/Width").getIntValue() : 0;
  const long long h = dict.getKey("/Height").isInteger() ? dict.getKey("/Height").getIntValue() : 0;
  if (w <= 0 || h <= 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return IM_ERR_CORRUPT;

  // Resolution from the page size (the image fills the page).
  QPDFObjectHandle mb = page.getAttribute("/MediaBox", false);
  double pw = 0, ph = 0;
  if (mb.isArray() && mb.getArrayNItems() == 4) {
    pw = std::fabs(NumberOf(mb.getArrayItem(2), 0) - NumberOf(mb.getArrayItem(0), 0));
    ph = std::fabs(NumberOf(mb.getArrayItem(3), 0) - NumberOf(mb.getArrayItem(1), 0));
  }
  const double unit = NumberOf(page.getObjectHandle().getKey("/UserUnit"), 1.0);
  ImageDesc d;
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
  double xdpi = 0, ydpi = 0;
  if (pw > 0 && ph > 0 && unit > 0) {
    xdpi = w / (pw * unit / 72.0);
    ydpi = h / (ph * unit / 72.0);
    if (!(xdpi > 0 && xdpi < 1e6)) xdpi = 0;
    if (!(ydpi > 0 && ydpi < 1e6)) ydpi = 0;
  }
  d.xPelsPerMeter = DpiToPpm(xdpi);
  d.yPelsPerMeter = DpiToPpm(ydpi);

  QPDFObjectHandle filter = dict.getKey("/Filter");
  QPDFObjectHandle parms = dict.getKey("/DecodeParms");
  if (filter.isArray()) {
    if (filter.getArrayNItems() != 1) return IM_ERR_UNSUPPORTED;
    filter = filter.getArrayItem(0);
    if (parms.isArray()) parms = parms.getArrayNItems() > 0 ? parms.getArrayItem(0) : QPDFObjectHandle::newNull();
  }
  const std::string fname = filter.isName() ? filter.getName() : "";
  TempFile temp;
  if (!temp.ok()) return IM_ERR_IO;
  ToFd sinkPipe(temp.fd());
  const bool special = fname == "/DCTDecode" || fname == "/CCITTFaxDecode";
  bool filtered = false;
  if (!image.pipeStreamData(&sinkPipe, &filtered, 0, special ? qpdf_dl_none : qpdf_dl_generalized, true))
    return IM_ERR_CORRUPT;
  if (!special && !fname.empty() && !filtered) return IM_ERR_UNSUPPORTED;
  const uint64_t size = sinkPipe.size();

  if (fname == "/DCTDecode") {
    const int64_t start = SkipStraySoi(temp.fd(), size);
    if (start < 0) return IM_ERR_CORRUPT;
    return ReadJpegRange(temp.fd(), static_cast<uint64_t>(start), size, sink, &d);
  }

  QPDFObjectHandle decode = dict.getKey("/Decode");
  const bool decodeInverted = decode.isArray() && decode.getArrayNItems() >= 2 &&
                              NumberOf(decode.getArrayItem(0), 0) > NumberOf(decode.getArrayItem(1), 1);
  if (fname == "/CCITTFaxDecode") {
    int k = 0;
    bool blackIs1 = false;
    long long columns = 1728;
    if (parms.isDictionary()) {
      if (parms.getKey("/K").isInteger()) k = static_cast<int>(parms.getKey("/K").getIntValue());
      if (parms.getKey("/BlackIs1").isBool()) blackIs1 = parms.getKey("/BlackIs1").getBoolValue();
      if (parms.getKey("/Columns").isInteger()) columns = parms.getKey("/Columns").getIntValue();
      if (parms.getKey("/EncodedByteAlign").isBool() && parms.getKey("/EncodedByteAlign").getBoolValue())
        return IM_ERR_UNSUPPORTED;
    }
    if (columns != w) return IM_ERR_UNSUPPORTED;
    // A set bit out of libtiff's fax decoder is a black run; it is white in the image when
    // BlackIs1 and an inverting Decode array do not cancel out.
    const bool whiteIsOne = blackIs1 != decodeInverted;
    // Move the data up by 8 bytes to make room for the TIFF header.
    TempFile wrapped;
    if (!wrapped.ok()) return IM_ERR_IO;
    std::vector<uint8_t> buf(256 * 1024);
    for (uint64_t done = 0; done < size;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - done));
      if (!ReadAt(temp.fd(), done, buf.data(), n) || !WriteAt(wrapped.fd(), 8 + done, buf.data(), n))
        return IM_ERR_IO;
      done += n;
    }
    if (!WrapFax(wrapped.fd(), size, d.width, d.height, k, whiteIsOne,
                 xdpi > 0 ? xdpi : 0.01, ydpi > 0 ? ydpi : 0.01))
      return IM_ERR_IO;
    TiffFile t(wrapped.fd(), "rm");
    if (!t.tif()) return IM_ERR_CORRUPT;
    return ReadTiffFile(t, sink);
  }
  if (!fname.empty() && fname != "/FlateDecode" && fname != "/LZWDecode" && fname != "/RunLengthDecode" &&
      fname != "/ASCIIHexDecode" && fname != "/ASCII85Decode")
    return IM_ERR_UNSUPPORTED;
  // Samples left plain by qpdf.
  QPDFObjectHandle cs = dict.getKey("/ColorSpace");
  const std::string space = cs.isName() ? cs.getName() : "";
  const long long bpc = dict.getKey("/BitsPerComponent").isInteger() ? dict.getKey("/BitsPerComponent").getIntValue() : 8;
  if (space == "/DeviceRGB" && bpc == 8) {
    d.bitsPerPixel = 24;
    return ReadSamples(temp.fd(), size, d, 8, 3, sink);
  }
  if ((space == "/DeviceGray" || dict.getKey("/ImageMask").isBool()) && (bpc == 8 || bpc == 1)) {
    d.bitsPerPixel = static_cast<int>(bpc);
    if (bpc == 8) {
      if (decodeInverted) return IM_ERR_UNSUPPORTED;
      d.grey = true;
      d.colors = GreyTable(256);
    } else {
      d.colors = GreyTable(2);
      if (decodeInverted) std::swap(d.colors[0], d.colors[1]);
    }
    return ReadSamples(temp.fd(), size, d, static_cast<int>(bpc), 1, sink);
  }
  return IM_ERR_UNSUPPORTED;
}

}  // namespace

int ReadPdf(int fd, ReadSink& sink) {
  try {
    return ReadPdfImpl(fd, sink);
  } catch (const std::bad_alloc&) {
    return IM_ERR_MEMORY;
  } catch (...) {
    return IM_ERR_CORRUPT;
  }
}

std::unique_ptr<ImageWriter> MakePdfWriter(uint32_t compression, const WriteSettings& s) {
  return std::make_unique<PdfWriter>(compression, s);
}

}  // namespace mill
