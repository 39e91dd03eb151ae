// Scan window, scan start and the read pipeline with its five read modes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "scanner_library/ScsiCommands.h"
#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

using orb::trennic::GetBE32;

namespace {

constexpr int kMaxTransfer = 0xFFFC;

int BytesForPixels(int pixels, int bits) {
  switch (bits) {
    case 1: return (pixels + 7) / 8;
    case 4: return (pixels + 1) / 2;
    case 24: return 3 * pixels;
    default: return pixels;
  }
}

int RoundUp(int v, int m) { return (v + m - 1) / m * m; }

// A line read is usable when it completed, or when the whole line came with the end of the
// medium (the scanner sends the medium's last lines together with its end).
bool LineUsable(ReadCompleteType r, int got, int lineBytes) {
  return r == READ_COMPLETE || (r == READ_END_OF_MEDIUM && lineBytes > 0 && got >= lineBytes);
}

void FillCommon(unsigned char* b, const WindowDescriptorType& w, unsigned char stitch) {
  orb::trennic::WindowFields f(b);
  f.Clear();
  f.SetBrightness(w.Brightness);
  f.SetThreshold(w.Threshold);
  f.SetComposition(w.ImageComposition);
  f.SetBitsPerPixel(w.BitsPerPixel);
  f.SetFlags(w.Flags);
  f.SetOption(w.Option);
  for (int i = 0; i < 6; ++i) f.SetVendor(i, w.Vendor[i]);
  f.SetVendorLast(w.VendorLast);
  f.SetCameraStitch(stitch);
}

void PutGeometry(unsigned char* b, int xr, int yr, int ulx, int uly, int width, int length) {
  orb::trennic::WindowFields f(b);
  f.SetXResolution(xr);
  f.SetYResolution(yr);
  f.SetUpperLeftX(ulx);
  f.SetUpperLeftY(uly);
  f.SetWidth(width);
  f.SetLength(length);
}

// trunc(trunc(v / (res / 100)) x target / 100): a distance converted through hundredths of
// an inch.
int ThroughHundredths(int v, int res, int target) {
  const double hundredths = std::trunc(v / (res / 100.0));
  return static_cast<int>(hundredths * target / 100);
}

}  // namespace

bool CTrennic::SendWindowBlock(WindowBlock& block) {
  SetAdvancedHorizontalStitch(block);
  orb::trennic::Cdb cdb(orb::trennic::Opcode::SetWindow);
  cdb.TransferLength(orb::trennic::WindowFields::kSize);
  return Command(cdb.data(), cdb.size(), block.b, orb::trennic::WindowFields::kSize, SCSI_DATA_OUT,
                 true);
}

bool CTrennic::SetWindow(const WindowDescriptorType& w, unsigned char stitch, bool stitchAlign) {
  return Guard(false, [&] {
    if (!IsOpen()) return false;
    stitchAlign_ = false;
    const int S = info_.OpticalResolution;
    const int X = w.XResolution, Y = w.YResolution;
    if (X <= 0 || Y <= 0 || w.Width <= 0 || w.Length <= 0) return false;
    windowBits_ = w.BitsPerPixel;
    windowWidth_ = w.Width;
    // Upper-left Y in the band the scanner works in.
    int band = w.UpperLeftY;
    if (S > 0 && w.UpperLeftY != 0 && Y != S) {
      if (S / 2 < Y && Y < S)
        band = static_cast<int>(static_cast<int64_t>(w.UpperLeftY) * S / Y);
      else if (S / 4 < Y && Y < S / 2)
        band = static_cast<int>(static_cast<int64_t>(S / 2) * w.UpperLeftY / Y);
      else if (S / 8 < Y && Y < S / 4)
        band = static_cast<int>(static_cast<int64_t>(S / 4) * w.UpperLeftY / Y);
    }
    bandUpperLeftY_ = band;
    if (S > 0) {
      if (w.Flags & 8) return SetWindowEx(w, S, stitch);
      if (Y > S && Y == X) {
        const int b = w.BitsPerPixel;
        if (b == 24 || b == 8 || b == 4 || (b == 1 && w.Option == 0)) return SetWindowEx(w, S, stitch);
        return false;
      }
      // Past the optical resolution with X != Y no read mode turns the scanner's lines
      // into the window asked for: refused instead of read in a mode without its values.
      if (Y > S) {
        SetLastError(0, 0, TRENNIC_WINDOW_XY_MISMATCH);
        return false;
      }
    }
    // The scanner produces the window itself.
    readMode_ = ReadMode::Plain;
    WindowBlock block;
    FillCommon(block.b, w, stitch);
    PutGeometry(block.b, X, Y, w.UpperLeftX, band, w.Width, w.Length);
    if (stitchAlign) {
      orb::trennic::WindowFields(block.b).SetStitchAlign(true);
      stitchAlign_ = true;
    }
    return SendWindowBlock(block);
  });
}

bool CTrennic::SetWindowEx(const WindowDescriptorType& w, int S, unsigned char stitch) {
  if (!IsOpen()) return false;
  const int X = w.XResolution, Y = w.YResolution, b = w.BitsPerPixel;
  if (X != Y) {
    SetLastError(0, 0, TRENNIC_WINDOW_XY_MISMATCH);
    return false;
  }
  WindowBlock block;
  FillCommon(block.b, w, stitch);
  readMode_ = ReadMode::Plain;
  scanResolution_ = S;
  deliveredLines_ = 0;
  const bool halfLines = (w.Flags & 8) != 0;
  int xr = X, yr = Y, ulx = w.UpperLeftX, uly = w.UpperLeftY, width = w.Width, length = w.Length;
  if (halfLines && Y == 2 * S && b == 1) {
    readMode_ = ReadMode::Replicated;
    xScale_ = yScale_ = 2.0;
    scaleWidth_ = (w.Width + 1) / 2;  // the pixels the scanner sends
    scaleBits_ = 1;
    xr = X / 2;
    yr = Y / 2;
    ulx = (w.UpperLeftX + 1) / 2;
    uly = (w.UpperLeftY + 1) / 2;
    width = (w.Width + 1) / 2;
    length = (w.Length + 1) / 2;
  } else if (halfLines && Y <= S) {
    if (b != 1 && b != 8 && b != 24) return false;
    readMode_ = ReadMode::LargeScale;
    xScale_ = 1.0;
    yScale_ = 2.0;
    scaleWidth_ = w.Width;
    scaleBits_ = b;
    length = (w.Length + 1) / 2;
  } else if (Y == 2 * S || Y == S + S / 2) {
    if (b == 24) {
      readMode_ = ReadMode::Interpolated;
      targetResolution_ = Y;
      xr = S;
      ulx = static_cast<int>(static_cast<int64_t>(w.UpperLeftX) * S / X);
      if (w.UpperLeftX > 0 && ulx == 0) ulx = w.UpperLeftX;
      width = static_cast<int>(static_cast<int64_t>(w.Width) * S / X);
    }
  } else if (S < Y && Y < 2 * S) {
    readMode_ = ReadMode::DownScaled;
    targetResolution_ = Y;
    const int R = Y < S + S / 2 ? S + S / 2 : 2 * S;
    intermediateResolution_ = R;
    yr = R;
    uly = ThroughHundredths(w.UpperLeftY, Y, R);
    length = ThroughHundredths(w.Length, Y, R);
    int sent;
    if (b == 24) {
      xr = S;
      ulx = ThroughHundredths(w.UpperLeftX, X, S);
      sent = RoundUp(static_cast<int>(static_cast<int64_t>(w.Width) * S / X), 12);
      inPixels_ = static_cast<int>(static_cast<int64_t>(sent) * R / S);
    } else {
      xr = R;
      ulx = ThroughHundredths(w.UpperLeftX, X, R);
      sent = RoundUp(ThroughHundredths(w.Width, X, R), 16);
      inPixels_ = sent;
    }
    if (w.UpperLeftX > 0 && ulx == 0) ulx = w.UpperLeftX;
    width = sent;
    outPixels_ = w.Width;
    downBits_ = b;
    xStep_ = static_cast<int>(static_cast<double>(R) / Y * 10000);
    yStep_ = static_cast<int>(static_cast<double>(Y) / R * 10000);
    inBytesPerLine_ = BytesForPixels(inPixels_, b);
    outBytesPerLine_ = BytesForPixels(outPixels_, b);
  } else if (Y > 2 * S) {
    if (b != 1 && b != 8 && b != 24) return false;
    readMode_ = ReadMode::LargeScale;
    const double fx = static_cast<double>(X) / S, fy = static_cast<double>(Y) / S;
    const int linesIn = std::max(1, static_cast<int>(w.Length / fy));
    const int pixelsIn = std::max(1, static_cast<int>(w.Width / fx));
    yScale_ = static_cast<double>(w.Length) / linesIn;
    xScale_ = static_cast<double>(w.Width) / pixelsIn;
    scaleWidth_ = static_cast<int>((w.Width + 0.005) / xScale_);
    scaleBits_ = b;
    xr = yr = S;
    ulx = static_cast<int>(w.UpperLeftX / xScale_);
    uly = static_cast<int>(w.UpperLeftY / yScale_);
    width = static_cast<int>((w.Width + 0.005) / xScale_);
    length = static_cast<int>((w.Length + 0.005) / yScale_);
  }
  PutGeometry(block.b, xr, yr, ulx, uly, width, length);
  return SendWindowBlock(block);
}

bool CTrennic::StartScan() {
  return Guard(false, [&] {
    if (!IsOpen()) return false;
    interpolator_.reset();
    replicator_.reset();
    pendingLines_ = 0;
    linesOwed_ = false;
    mediumEnded_ = false;
    carryValid_ = false;
    indexTable_.reset();
    lineBuffer_.reset();
    sourceLine_ = lastEmitted_ = -1;
    orb::trennic::Cdb cdb(orb::trennic::Opcode::Scan);
    cdb.WindowListLength(1);
    unsigned char list[1] = {0};  // window identifier 0
    return Command(cdb.data(), cdb.size(), list, 1, SCSI_DATA_OUT, true);
  });
}

ReadCompleteType CTrennic::ReadData(DataTransferType* rec) {
  return Guard(READ_FAILED, [&]() -> ReadCompleteType {
    if (!rec) return READ_FAILED;
    rec->ReturnedBytes = 0;
    if (!IsOpen()) return READ_FAILED;
    if (rec->RequestedBytes < 0 || (rec->RequestedBytes > 0 && !rec->Buffer)) return READ_FAILED;
    switch (readMode_) {
      case ReadMode::Plain: return ReadDataIn(rec);
      case ReadMode::Interpolated: return ReadInterpolatedData(rec, targetResolution_, scanResolution_);
      case ReadMode::DownScaled: return ReadDownScaledData(rec);
      case ReadMode::LargeScale: return ReadLargeScaleData(rec);
      case ReadMode::Replicated: return ReadReplicatedData(rec);
    }
    return READ_FAILED;
  });
}

ReadCompleteType CTrennic::ReadDataIn(DataTransferType* rec) {
  if (!stitcher_) return ReadDataRaw(rec);
  rec->ReturnedBytes = 0;
  const int outLen = stitcher_->OutputLineLength();
  const int inLen = stitcher_->InputLineLength();
  if (outLen <= 0) return READ_FAILED;
  const int lines = rec->RequestedBytes / outLen;
  for (int i = 0; i < lines; ++i) {
    DataTransferType line{inLen, stitchBuffer_.get(), 0};
    const ReadCompleteType r = ReadDataRaw(&line);
    // A whole line that came with the end of the medium is still delivered.
    if (r == READ_COMPLETE || (r == READ_END_OF_MEDIUM && line.ReturnedBytes == inLen)) {
      stitcher_->WriteData(stitchBuffer_.get(), rec->Buffer + static_cast<size_t>(i) * outLen, 0);
      rec->ReturnedBytes += outLen;
    }
    if (r != READ_COMPLETE) return r;
  }
  return READ_COMPLETE;
}

ReadCompleteType CTrennic::ReadDataRaw(DataTransferType* rec) {
  if (!IsOpen()) return READ_FAILED;
  rec->ReturnedBytes = 0;
  const int want = rec->RequestedBytes;
  if (want <= 0) return READ_COMPLETE;
  int limit = 15;
  const int S = info_.OpticalResolution;
  if (Has(orb::trennic::kCapSlowLowerBands) && S > 0 && bandUpperLeftY_ > S)
    limit = (bandUpperLeftY_ / S) * fractionalSpeed_ * 20 + 10;
  int got = 0;
  if (carryValid_) {
    rec->Buffer[0] = carryByte_;
    carryValid_ = false;
    got = 1;
    rec->ReturnedBytes = 1;
  }
  int empty = 0;
  std::vector<unsigned char> scratch;
  orb::Clock& clock = orb::DefaultClock();
  while (got < want) {
    const int remaining = want - got;
    const int transfer = std::min(remaining, kMaxTransfer);
    // The scanner is asked for even lengths only; the surplus byte of the last, odd
    // transfer is received aside (never into the caller's buffer) and carried over.
    const bool extend = (remaining & 1) && transfer == remaining;
    const int ask = transfer + (extend ? 1 : 0);
    unsigned char* dst = rec->Buffer + got;
    if (extend) {
      scratch.assign(static_cast<size_t>(ask), 0);
      dst = scratch.data();
    }
    orb::trennic::Cdb cdb(orb::trennic::Opcode::Read10);
    cdb.TransferLength(static_cast<uint32_t>(ask));
    unsigned char status = 0;
    std::memset(sense_, 0, sizeof sense_);
    const bool ok = transport_->ExecScsiCommandStatus(ask, dst, cdb.size(), cdb.data(), sense_,
                                                      SCSI_DATA_IN, &status);
    const int residue = static_cast<int>(GetBE32(sense_ + 3));
    int counted;
    ReadCompleteType ending = READ_COMPLETE;
    bool stop = false;
    if (transport_->IsCompletedStatus(status)) {
      counted = ask;
    } else {
      const int code = sense_[12] << 8 | sense_[13];
      // A failed command counts what its residue says arrived; without a valid residue
      // nothing of it is trusted.
      counted = ok || (sense_[0] & 0x80) ? std::clamp(ask - residue, 0, ask) : 0;
      if (code == ASC_END_OF_MEDIUM) {
        // The end of the medium: what came with it is delivered, then the read ends.
        ending = READ_END_OF_MEDIUM;
        stop = true;
      } else if (code == ASC_UNRECOVERED_READ_ERROR) {
        ending = READ_MEDIUM_ERROR;
        stop = true;
      } else if (code != ASC_NONE) {
        ending = READ_FAILED;
        stop = true;
      } else if (!ok) {
        // A failure without sense (the transport gave up, the device went away): nothing
        // of this transfer counts.
        ending = READ_FAILED;
        stop = true;
        counted = 0;
      }
      if (!ok) SetScsiCommandError();
    }
    if (extend && residue == 0 && counted == ask) {
      carryByte_ = dst[ask - 1];
      carryValid_ = true;
      counted = ask - 1;
    }
    counted = std::min(counted, want - got);
    if (extend && counted > 0) std::memcpy(rec->Buffer + got, scratch.data(), static_cast<size_t>(counted));
    got += counted;
    rec->ReturnedBytes = got;
    if (stop) return ending;
    if (counted == 0) {
      ++empty;
      if (empty >= 10) clock.Sleep(orb::Clock::Ms(50));
      if (empty >= limit) return READ_NO_DATA;
    } else {
      empty = 0;
    }
  }
  return READ_COMPLETE;
}

// ---- interpolated (mode 1) -----------------------------------------------------------

void CTrennic::WidenLine(const unsigned char* src, unsigned char* dst, int n, int maxOut,
                         bool doubling) {
  // Copy one pixel (doubling) or two (3-for-2), then insert one pixel halfway to the next;
  // at the end of the line the inserted pixel repeats the last one. Never more than
  // maxOut pixels are written.
  int o = 0;
  for (int i = 0; i < n && o < maxOut;) {
    const int copy = doubling ? 1 : 2;
    for (int k = 0; k < copy && i < n && o < maxOut; ++k, ++i, ++o)
      std::memcpy(dst + 3 * o, src + 3 * i, 3);
    if (o >= maxOut) break;
    const unsigned char* prev = src + 3 * (i - 1);
    if (i < n) {
      const unsigned char* next = src + 3 * i;
      for (int c = 0; c < 3; ++c)
        dst[3 * o + c] = static_cast<unsigned char>((next[c] >> 1) + (prev[c] >> 1));
    } else {
      // Halving both halves would lose the low bit of an odd level.
      std::memcpy(dst + 3 * o, prev, 3);
    }
    ++o;
  }
}

bool CTrennic::NInterpolateRGB(unsigned char* src, unsigned char* dst, int srcLength, int,
                               int flag) {
  if (srcLength < 1) return false;
  const int n = srcLength / 3;
  WidenLine(src, dst, n, flag != 0 ? 2 * n : n + n / 2, flag != 0);
  return true;
}

bool CTrennic::InterpolateRGB(unsigned char* src, unsigned char* dst, int srcLength,
                              int resolution, int flag) {
  if (srcLength < 1) return false;
  const bool threeForTwo = (resolution == 600 && flag == 0) || (resolution == 450 && flag == 1);
  const int n = srcLength / 3;
  WidenLine(src, dst, n, threeForTwo ? n + (n + 1) / 2 : 2 * n, !threeForTwo);
  return true;
}

ReadCompleteType CTrennic::ReadInterpolatedData(DataTransferType* rec, int a, int b) {
  rec->ReturnedBytes = 0;
  if (a <= 0 || b <= 0) return READ_FAILED;
  const bool doubling = a / b == 2;
  const int n = static_cast<int>(static_cast<int64_t>(b) * rec->RequestedBytes / a);
  std::vector<unsigned char> scratch(static_cast<size_t>(std::max(rec->RequestedBytes, n)) + 3);
  DataTransferType raw{n, scratch.data(), 0};
  const ReadCompleteType r = ReadDataIn(&raw);
  // The whole lines that came with the end of the medium are widened and delivered too.
  if (r != READ_COMPLETE && r != READ_END_OF_MEDIUM) return r;
  // Widen line by line (the scanner's lines are the window width at the scan resolution).
  const int srcLine = 3 * std::max(1, windowWidth_ > 0 && readMode_ == ReadMode::Interpolated
                                          ? static_cast<int>(static_cast<int64_t>(windowWidth_) * b / a)
                                          : raw.ReturnedBytes / 3);
  const int dstLine = static_cast<int>(static_cast<int64_t>(srcLine) * a / b);
  int out = 0;
  for (int in = 0; in + srcLine <= raw.ReturnedBytes && out + dstLine <= rec->RequestedBytes;
       in += srcLine, out += dstLine) {
    NInterpolateRGB(scratch.data() + in, rec->Buffer + out, srcLine, a, doubling ? 1 : 0);
  }
  rec->ReturnedBytes = static_cast<int>(static_cast<int64_t>(raw.ReturnedBytes) * a / b);
  rec->ReturnedBytes = std::min(rec->ReturnedBytes, out);
  return r;
}

ReadCompleteType CTrennic::ReadInterpolatedData(DataTransferType* rec, int resolution, bool flag) {
  return Guard(READ_FAILED, [&]() -> ReadCompleteType {
    if (!rec || !IsOpen() || resolution <= 0 || rec->RequestedBytes < 0 ||
        (rec->RequestedBytes > 0 && !rec->Buffer))
      return READ_FAILED;
    rec->ReturnedBytes = 0;
    const double base = flag ? 300.0 : 400.0;
    int n = static_cast<int>(rec->RequestedBytes / (resolution / base) + 0.5);
    n = std::min(n - n % 3, kMaxTransfer - kMaxTransfer % 3);
    const bool threeForTwo = (resolution == 600 && !flag) || (resolution == 450 && flag);
    std::vector<unsigned char> scratch(static_cast<size_t>(n) + 3);
    DataTransferType raw{n, scratch.data(), 0};
    const ReadCompleteType r = ReadDataIn(&raw);
    // What came with the end of the medium is widened and delivered as well.
    if (r != READ_COMPLETE && r != READ_END_OF_MEDIUM) return r;
    if (raw.ReturnedBytes < 3) return r;
    // Widened size: 3 pixels per 2 or 2 per 1; only what fits the request is delivered.
    const int pixels = raw.ReturnedBytes / 3;
    const int widened = threeForTwo ? pixels + (pixels + 1) / 2 : 2 * pixels;
    std::vector<unsigned char> wide(static_cast<size_t>(3 * widened) + 6);
    InterpolateRGB(scratch.data(), wide.data(), raw.ReturnedBytes, resolution, flag ? 1 : 0);
    const int deliver = std::min(3 * widened, rec->RequestedBytes);
    std::memcpy(rec->Buffer, wide.data(), static_cast<size_t>(deliver));
    rec->ReturnedBytes = deliver;
    return r;
  });
}

// ---- down-scaled (mode 2) ------------------------------------------------------------

ReadCompleteType CTrennic::ReadDownScaledData(DataTransferType* rec) {
  rec->ReturnedBytes = 0;
  if (outBytesPerLine_ <= 0 || rec->RequestedBytes % outBytesPerLine_ != 0) return READ_NOT_WHOLE_LINES;
  if (!lineBuffer_) {
    lineBuffer_.reset(new unsigned char[static_cast<size_t>(inBytesPerLine_) + 8]);
    std::memset(lineBuffer_.get(), 0xFF, static_cast<size_t>(inBytesPerLine_) + 8);
    indexTable_.reset(new int[static_cast<size_t>(std::max(outPixels_, 1))]);
    for (int i = 0; i < outPixels_; ++i) {
      const int e = std::min(static_cast<int>(static_cast<int64_t>(i) * xStep_ / 10000), inPixels_ - 1);
      indexTable_[static_cast<size_t>(i)] = downBits_ == 24 ? 3 * e : e;
    }
    sourceLine_ = lastEmitted_ = -1;
  }
  const int lines = rec->RequestedBytes / outBytesPerLine_;
  unsigned char* out = rec->Buffer;
  for (int produced = 0; produced < lines;) {
    DataTransferType in{inBytesPerLine_, lineBuffer_.get(), 0};
    const ReadCompleteType r = downBits_ == 24
                                   ? ReadInterpolatedData(&in, intermediateResolution_, scanResolution_)
                                   : ReadDataIn(&in);
    // A whole source line that came with the end of the medium still counts.
    if (!LineUsable(r, in.ReturnedBytes, inBytesPerLine_)) return r;
    ++sourceLine_;
    const int number = static_cast<int>(static_cast<int64_t>(sourceLine_) * yStep_ / 10000);
    if (number == lastEmitted_) {
      if (r != READ_COMPLETE) return r;
      continue;
    }
    lastEmitted_ = number;
    const unsigned char* src = lineBuffer_.get();
    switch (downBits_) {
      case 24:
        for (int i = 0; i < outPixels_; ++i) std::memcpy(out + 3 * i, src + indexTable_[static_cast<size_t>(i)], 3);
        break;
      case 8:
        for (int i = 0; i < outPixels_; ++i) out[i] = src[indexTable_[static_cast<size_t>(i)]];
        break;
      case 4:
        std::memset(out, 0, static_cast<size_t>(outBytesPerLine_));
        for (int i = 0; i < outPixels_; ++i) {
          const int e = indexTable_[static_cast<size_t>(i)];
          const int v = (src[e / 2] >> (e % 2 ? 0 : 4)) & 0x0F;  // high nibble first
          out[i / 2] |= static_cast<unsigned char>(v << (i % 2 ? 0 : 4));
        }
        break;
      default:
        std::memset(out, 0, static_cast<size_t>(outBytesPerLine_));
        for (int i = 0; i < outPixels_; ++i) {
          const int e = indexTable_[static_cast<size_t>(i)];
          if (src[e / 8] & (0x80 >> (e % 8))) out[i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
        }
        break;
    }
    out += outBytesPerLine_;
    rec->ReturnedBytes += outBytesPerLine_;
    ++produced;
    if (r != READ_COMPLETE) return r;
  }
  return READ_COMPLETE;
}

// ---- large scale and half lines (mode 3), replicated (mode 4) ------------------------

ReadCompleteType CTrennic::ReadLargeScaleData(DataTransferType* rec) {
  rec->ReturnedBytes = 0;
  if (!interpolator_) {
    interpolator_.reset(new CInterpolateData(scaleWidth_, xScale_, yScale_, scaleBits_));
    DataTransferType first{interpolator_->getInputLineLen(), interpolator_->getCurrentDataBuffer(), 0};
    const ReadCompleteType r = ReadDataIn(&first);
    if (r != READ_COMPLETE) {
      interpolator_.reset();
      return r;
    }
    pendingLines_ = 0;
    linesOwed_ = false;
  }
  const int outLen = interpolator_->getOutputLineLen();
  const int maxLines = rec->RequestedBytes / outLen;
  int produced = 0;
  unsigned char* out = rec->Buffer;
  auto emit = [&] {
    const int bytes = interpolator_->interpolateData(out, &pendingLines_, maxLines - produced);
    produced += bytes / outLen;
    out += bytes;
    linesOwed_ = pendingLines_ != 0;
  };
  if (linesOwed_) emit();
  // The medium ended on a line whose output did not all fit: hand over the rest, then the end.
  if (mediumEnded_) {
    rec->ReturnedBytes = produced * outLen;
    return linesOwed_ ? READ_COMPLETE : READ_END_OF_MEDIUM;
  }
  while (produced < maxLines) {
    DataTransferType in{interpolator_->getInputLineLen(), interpolator_->getCurrentDataBuffer(), 0};
    const ReadCompleteType r = ReadDataIn(&in);
    if (!LineUsable(r, in.ReturnedBytes, in.RequestedBytes)) {
      rec->ReturnedBytes = produced * outLen;
      return r;
    }
    pendingLines_ = 0;
    emit();
    if (r != READ_COMPLETE) {
      mediumEnded_ = true;
      rec->ReturnedBytes = produced * outLen;
      return linesOwed_ ? READ_COMPLETE : r;
    }
  }
  rec->ReturnedBytes = produced * outLen;
  return READ_COMPLETE;
}

ReadCompleteType CTrennic::ReadReplicatedData(DataTransferType* rec) {
  rec->ReturnedBytes = 0;
  if (!replicator_) {
    replicator_.reset(new CReplicateData(scaleWidth_));
    linesOwed_ = false;
  }
  // The caller's line: the window width at 1 bit.
  const int outLen = (windowWidth_ + 7) / 8;
  const int lines = rec->RequestedBytes / outLen;
  std::vector<unsigned char> doubled(static_cast<size_t>(replicator_->getOutputLineLen()) + 8);
  int produced = 0;
  auto put = [&] {
    std::memcpy(rec->Buffer + static_cast<size_t>(produced) * outLen, doubled.data(),
                static_cast<size_t>(std::min(outLen, replicator_->getOutputLineLen())));
    ++produced;
  };
  if (linesOwed_ && produced < lines) {
    replicator_->replicateData(doubled.data());
    put();
    linesOwed_ = false;
  }
  // The medium ended on a line whose second copy did not fit: it went out above.
  if (mediumEnded_) {
    rec->ReturnedBytes = produced * outLen;
    return linesOwed_ ? READ_COMPLETE : READ_END_OF_MEDIUM;
  }
  while (produced < lines) {
    DataTransferType in{replicator_->getInputLineLen(), replicator_->getCurrentDataBuffer(), 0};
    const ReadCompleteType r = ReadDataIn(&in);
    if (!LineUsable(r, in.ReturnedBytes, in.RequestedBytes)) {
      rec->ReturnedBytes = produced * outLen;
      return r;
    }
    replicator_->replicateData(doubled.data());
    put();
    if (produced < lines)
      put();
    else
      linesOwed_ = true;
    if (r != READ_COMPLETE) {
      mediumEnded_ = true;
      rec->ReturnedBytes = produced * outLen;
      return linesOwed_ ? READ_COMPLETE : r;
    }
  }
  rec->ReturnedBytes = produced * outLen;
  return READ_COMPLETE;
}
