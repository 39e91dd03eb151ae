/* libimagemill: reads and writes image files row by row.
 *
 * Formats: TIFF (uncompressed, PackBits, CCITT Group 3, Group 4, JPEG; BigTIFF past 4 GB),
 * JPEG, PNG, JPEG 2000, PDF holding one JPEG or one Group 4 image, and BMP.
 *
 * Rows always travel top row first, whatever the format stores. Pixel layout of a row, by
 * the header's bits per pixel:
 *   1  packed 8 pixels a byte, most significant bit first; a bit is an index into the
 *      two-entry colour table (with no table, 0 is black and 1 is white);
 *   4  two palette indices a byte, high nibble first;
 *   8  one palette index or, with the grey flag set, one grey value a byte;
 *   24 three bytes a pixel in the order red, green, blue (not the blue-first order of the
 *      Windows bitmap; only BMP files store blue first, and the library converts);
 *   32 four bytes a pixel as the file stores them (C, M, Y, K for separated images).
 * A file handle is an open POSIX file descriptor; the library never closes it.
 *
 * All calls are safe from several threads at once, each on its own file. The settings
 * calls (IM_*Set*) apply to the next write started in the process, which then clears them.
 */
#ifndef IMAGEMILL_H
#define IMAGEMILL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define IM_EXPORT __attribute__((visibility("default")))
#else
#define IM_EXPORT
#endif

/* Results. */
#define IM_OK 0
#define IM_ERR_PARAM (-1)       /* a bad argument (null context, bad handle, bad format code) */
#define IM_ERR_FORMAT (-2)      /* the file is of no format the library reads */
#define IM_ERR_IO (-3)          /* reading or writing the file failed */
#define IM_ERR_TOO_LARGE (-4)   /* the image exceeds the format's limits (JPEG: 65500 a side) */
#define IM_ERR_CORRUPT (-5)     /* the file is damaged or truncated */
#define IM_ERR_MEMORY (-6)      /* not enough memory */
#define IM_STOPPED (-7)         /* a callback asked to stop */
#define IM_ERR_UNSUPPORTED (-8) /* a valid file or request of a kind the library does not handle */

/* Image description, with the fields of the Windows bitmap information header.
 * biHeight is positive; rows still travel top first. biSizeImage may be 0. */
typedef struct IM_BITMAPINFOHEADER {
  uint32_t biSize; /* 40 */
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes; /* 1 */
  uint16_t biBitCount; /* 1, 4, 8, 24 or 32 */
  uint32_t biCompression; /* 0 */
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
} IM_BITMAPINFOHEADER;

/* A colour table entry, blue first as in the Windows bitmap. */
typedef struct IM_RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
} IM_RGBQUAD;

/* Write context of IM_WriteStart/IM_WriteNext/IM_WriteEnd. The caller clears it and fills
 * format (always 1 here: an uncompressed TIFF whose pixel data start right after its
 * 8-byte header; past 4 GB a BigTIFF, whose data start after its 16-byte header), header
 * (width, height, bits per pixel, pixels per metre), colors and grey. The rest is the
 * library's. */
typedef struct IM_WRITECONTEXT {
  uint32_t format;               /* bytes 0-3 */
  IM_BITMAPINFOHEADER header;    /* bytes 4-43 */
  IM_RGBQUAD colors[256];        /* bytes 44-1067 */
  uint32_t grey;                 /* bytes 1068-1071: 1 for a grey 8-bit image */
  void* state;                   /* the library's, from IM_WriteStart to IM_WriteEnd */
  uint32_t dataOffset;           /* set by IM_WriteStart: where the pixel data start */
  uint32_t reserved;
} IM_WRITECONTEXT;

#ifdef __cplusplus
static_assert(sizeof(IM_BITMAPINFOHEADER) == 40, "bitmap information header layout");
static_assert(sizeof(IM_RGBQUAD) == 4, "colour table entry layout");
static_assert(offsetof(IM_WRITECONTEXT, header) == 4 && offsetof(IM_WRITECONTEXT, colors) == 44 &&
                  offsetof(IM_WRITECONTEXT, grey) == 1068,
              "write context layout");
#endif

/* Header callback.
 * Reading: called once with the decoded image's description, its colour table (2, 16 or
 * 256 entries for 1, 4 and 8 bits; grey images also get the grey ramp) and a flag that
 * is non-zero for a grey 8-bit image. Return 0 to go on, a negative code to stop (the
 * read then returns that code).
 * Writing: called once to fill the description, the colour table (room for 256 entries)
 * and the grey flag. Return 0 to go on, IM_STOPPED to stop. */
typedef int (*IM_HEADERCALLBACK)(void* user, IM_BITMAPINFOHEADER* header, IM_RGBQUAD* colors,
                                 int* grey);

/* Lines callback, once per row, top row first.
 * Reading: `line` holds the decoded row, `bytes` its length.
 * Writing: fill `line` with `bytes` bytes.
 * Return 0 to go on, IM_STOPPED to stop. */
typedef int (*IM_LINESCALLBACK)(void* user, uint8_t* line, int row, int bytes);

/* Prepares the library; 0 when ready. Calling it again is harmless. */
IM_EXPORT int IM_Init(void);

/* Decodes the whole file open on `fd` (from its start): the header callback once, then the
 * lines callback once per row. Returns IM_OK when every row was delivered, IM_STOPPED when
 * the lines callback stopped it, the header callback's code when that stopped it, else a
 * negative IM_ERR_* code. */
IM_EXPORT int IM_ReadByCallback(int fd, IM_LINESCALLBACK lines, IM_HEADERCALLBACK header,
                                void* user);

/* The format of the file open on `fd`, by its content (its name plays no part): the
 * container of an OutputFormat code (1 TIFF, 2 JPEG, 3 PNG, 4 PDF, 5 JPEG 2000, 6 BMP), or
 * 0 when it is none of those. Reads only the file's first kilobyte. */
IM_EXPORT int IM_DetectFormat(int fd);

/* Writes one image in `format` (an OutputFormat code) to the empty file open on `fd`,
 * pulling the description from the header callback and the rows from the lines callback.
 * Returns IM_OK, IM_STOPPED when a callback stopped it (the file holds what was written),
 * or a negative IM_ERR_* code. */
IM_EXPORT int IM_WriteByCallback(int fd, uint32_t format, IM_LINESCALLBACK lines,
                                 IM_HEADERCALLBACK header, void* user);

/* Added to the format code of IM_WriteByCallback: the image's length is open. The header's
 * height is then the most rows the image may have, and when the lines callback stops, the
 * file is finished as a complete image of the rows written so far, in any format (the call
 * still returns IM_STOPPED; with no row written the file stays empty). The rows wait in a
 * temporary file (in TMPDIR) until their number is known. */
#define IM_OPEN_LENGTH 0x80000000u

/* Push interface for an uncompressed TIFF: IM_WriteStart, then IM_WriteNext(ctx, row, 0)
 * once per row from the top, IM_WriteNext(ctx, NULL, IM_STOPPED) to end the data, and
 * IM_WriteEnd. A row holds the packed bytes of its bits per pixel. IM_WriteEnd always
 * releases the context; an image ended early keeps the rows written. */
IM_EXPORT int IM_WriteStart(int fd, IM_WRITECONTEXT* ctx);
IM_EXPORT int IM_WriteNext(IM_WRITECONTEXT* ctx, const uint8_t* line, int flag);
/* The next `count` rows at once, each `rowBytes` (the packed row) after the one before: as
 * many IM_WriteNext calls, without the library copying every row on its own. */
IM_EXPORT int IM_WriteRows(IM_WRITECONTEXT* ctx, const uint8_t* rows, int32_t count, int32_t rowBytes);
IM_EXPORT int IM_WriteEnd(IM_WRITECONTEXT* ctx);

/* Settings of the next write. */
IM_EXPORT int IM_JpegSetQuality(int quality);      /* 1..100, JPEG and JPEG in PDF */
IM_EXPORT int IM_Jp2SetQuality(int quality);       /* 1..1000; 1000 is lossless */
IM_EXPORT int IM_TiffJPEGSetQuality(int quality);  /* 1..100, JPEG inside TIFF */
IM_EXPORT int IM_TiffSetICCProfile(const char* path); /* ICC profile file, RGB images only */
IM_EXPORT int IM_TiffSetCopyright(const char* text);
IM_EXPORT int IM_TiffSetArtist(const char* text);

#ifdef __cplusplus
}
#endif

#endif /* IMAGEMILL_H */
