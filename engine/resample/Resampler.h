// Streaming separable resampler with a Lanczos-3 kernel.
//
// The caller gives one source line at a time; each line is resampled horizontally into a
// ring of lines, and every output line whose vertical window is complete is handed back.
// Used by the reduce-resolution tool for grey (1 byte a pixel) and RGB (3 bytes) images.
//
//   ResamplerState st;
//   ResamplerInit(&st);
//   ResamplerSetScale(&st, f, f);
//   ResamplerSetSizes(&st, height, bytesPerPixel, width);
//   if (!ResamplerPrepare(&st)) ... (bad sizes or out of memory)
//   for each source line: ResamplerProcessRows(&st, line, &out, &bytes, &count);
//                         write the count lines at out, each bytes long
//   then, to get the lines whose window reaches past the last source line:
//   do { ResamplerFlush(&st, &out, &bytes, &count); write them; } while (count > 0);
//   ResamplerFree(&st);
//
// Without the flush an image of H lines yields fewer than trunc(H x sy) lines (the last
// few windows never complete); with it the result has exactly trunc(H x sy) lines.
#pragma once

#include <cstdint>

namespace orb {
class WorkerPool;
}

// A kernel: its half-width and its weight at a distance.
class IResampleFilter {
public:
  virtual ~IResampleFilter();
  virtual double GetSupport() const = 0;
  virtual double GetWeight(double x) const = 0;
};

// sin(3.142 x) / (3.142 x), 1 at 0. The constant is 3.142, not pi: results depend on it.
double Sinc(double x);

class CResampleLanczos3Filter : public IResampleFilter {
public:
  double GetSupport() const override { return 3.0; }
  // Sinc(|x|) * Sinc(|x| / 3) inside (-3, 3), else 0.
  double GetWeight(double x) const override;
};

struct ResamplerContribution {
  int32_t pixel;   // source column (or line)
  double weight;
};

struct ResamplerContributor {
  int32_t count = 0;
  ResamplerContribution* list = nullptr;
  double weightSum = 0.0;
};

// How one output column is computed fast: weights of consecutive source columns from
// start, zero where the column is left out, padded with zeros to a common tap count.
struct ResamplerDenseTaps;

struct ResamplerState {
  IResampleFilter* kernel = nullptr;
  double sx = 1.0;
  double sy = 1.0;
  ResamplerContributor* contributors = nullptr;  // one per output column
  uint32_t outputWidth = 0;
  int32_t ringLines = 0;       // R of the window (kept for callers asking the half window)
  int32_t channels = 1;        // 3: all bytes of a pixel; otherwise only the first
  int32_t ringSlot = 0;
  unsigned char* ring = nullptr;
  int32_t linesReceived = 0;
  int32_t linesProduced = 0;
  unsigned char* outputBuffer = nullptr;
  int32_t linesDelivered = 0;
  int32_t sourceHeightLimit = 2147483647;
  int32_t sourceHeight = 0;
  int32_t sourceWidth = 0;

  // Ours, beyond the record above.
  int32_t ringSlots = 0;          // lines the ring really cycles through
  int32_t* ringLineOf = nullptr;  // which source line each ring slot holds (-1: none)
  int32_t outputCapacity = 0;     // lines the output buffer holds
  ResamplerDenseTaps* dense = nullptr;
  orb::WorkerPool* pool = nullptr;
  int32_t threads = 0;            // 0: as many as useful; 1: none
  bool flushed = false;
};

void ResamplerInit(ResamplerState* st);
void ResamplerSetScale(ResamplerState* st, double sx, double sy);
void ResamplerSetSizes(ResamplerState* st, int32_t sourceHeight, int32_t channels,
                       int32_t sourceWidth);
// False (and nothing allocated) when the scales or sizes are unusable (a scale not above 0,
// no source width or channels, an empty or absurdly large output) or memory runs out.
bool ResamplerPrepare(ResamplerState* st);
// Consumes one source line of sourceWidth x channels bytes. outCount lines are ready at
// *outBuffer, each *outLineBytes long; they stay valid until the next call.
void ResamplerProcessRows(ResamplerState* st, const unsigned char* sourceLine,
                          unsigned char** outBuffer, int32_t* outLineBytes, int32_t* outCount);
// After the last source line: hands back the next batch of the output lines still owed
// (windows cut at the last line received). Call until outCount is 0.
void ResamplerFlush(ResamplerState* st, unsigned char** outBuffer, int32_t* outLineBytes,
                    int32_t* outCount);
void ResamplerFree(ResamplerState* st);
void ResamplerRelease(ResamplerState* st);
void ResamplerCloseInput(ResamplerState* st);
int32_t ResamplerGetHalfWindow(const ResamplerState* st);
void ResamplerGetScale(const ResamplerState* st, double* sx, double* sy);

namespace orb {
// Worker threads for one resampler: 0 chooses by the line width (default), 1 keeps all
// work on the calling thread. Call before ResamplerPrepare. Results do not depend on it.
void ResamplerSetThreads(ResamplerState* st, int32_t threads);
// Whether the vector loops may be used where the processor has them (default on). Results
// are the same either way; tests switch them off to check the plain loops.
void ResamplerUseVectorCode(bool on);
}  // namespace orb
