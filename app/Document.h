// The image document without its windows: the version chain of one open image, the
// decisions of saving and closing, the save itself, copies in other formats, the title,
// and the opening of an image file into the document.
//
// The document knows two records of its chain: the file image (the first record, whose
// source path is the user's file) and the working image (the version the view shows and
// the tools change). Saving replaces the whole chain by one record standing for the saved
// file. The user's file is only ever replaced by renaming a complete new file over it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ImageState.h"

namespace orb {

// ----- formats ---------------------------------------------------------------------------

// Output formats a save accepts for an image kind, in order (BMP last); kind 10 counts
// as 4; kinds 7, 8, 9 and above 10 have none.
const std::vector<uint32_t>& AllowedOutputFormats(int kind);
bool IsOutputFormatAllowed(int kind, uint32_t format);

// One type of the save-as dialog.
struct SaveAsType {
  std::string label;     // "JPEG (*.jpg, *.jpeg)"
  std::string patterns;  // "*.jpg;*.jpeg"
  uint32_t format = 0;   // its output format
  int qualityKind = 0;   // the quality dialog it opens first (0: none)
};
// The types offered for a kind (the accepted formats without BMP).
const std::vector<SaveAsType>& SaveAsTypes(int kind);
// The dialog's filter text ("label|patterns|...||"); empty for a kind without types.
std::string SaveAsFilter(int kind);
// The 1-based type position whose label names the extension (the 7 characters from each
// "(*." are searched); -1 when none does. The extension comes without its dot.
int PreselectSaveAsType(const std::string& filter, const std::string& extension);
// The extension a type's label gives a file name: the 4 characters from its first '.'.
std::string ExtensionOfTypeLabel(const std::string& label);
// The file name with its extension replaced by that of type `position` (1-based) of the
// kind; unchanged when the position is out of range.
std::string FileNameForType(const std::string& fileName, int kind, int position);
// The file a save-as writes when the user chose `chosen` with type `position`: the type
// decides the extension. A name without one, or with another image type's, takes the
// type's; one that already fits the type (".jpeg" for JPEG, ".tiff" for TIFF) is kept; any
// other extension is part of the name and the type's is added.
std::string SaveAsFileName(const std::string& chosen, int kind, int position);
// What a save-as writes once the user closed the dialog on `chosen` with the type at
// `filterIndex` (from 0, as the dialog counts): the type's format, the quality dialog it
// opens first, its 1-based position and the file (SaveAsFileName). A type the dialog did not
// report is the preselected one (`preselect`, 1-based, -1 for none), else the first. Nothing
// for a kind without types.
struct SaveAsChoice {
  std::string path;
  uint32_t format = 0;
  int qualityKind = 0;
  int position = 0;
};
std::optional<SaveAsChoice> ResolveSaveAs(int kind, const std::string& chosen, int filterIndex, int preselect);
// Where the save-as dialog starts: the folder of the last save-as path when that folder
// still exists, else the folder of the image's own file.
std::string SaveAsStartFolder(const std::string& lastSaveAsPath, const std::string& sourcePath);

// ----- decisions -------------------------------------------------------------------------

enum class SaveRoute {
  Rename,   // the working version's file is moved over the user's file as it is
  ReEncode, // the working version is written anew in `format` and moved over
  SaveAs,   // the file's format is not allowed for the kind: the save-as dialog instead
};
struct SavePlan {
  SaveRoute route = SaveRoute::ReEncode;
  uint32_t format = 0;
};
// `sameFileSystem`: the working version's file lies on the file system of the user's
// file (renaming is possible).
SavePlan PlanSave(const ImageState& fileImage, const ImageState& working, bool sameFileSystem);

// Whether closing asks to save: the working version was edited or is not the file image,
// it is not a new scan (state 0), and the user did not discard the changes.
bool CloseAsks(const ImageState& fileImage, const ImageState& working, bool discardChanges);

// Same file by identity (device and inode); a path that does not exist is the same only
// when the two paths are equal after making them absolute.
bool IsSameFile(const std::string& a, const std::string& b);
// Both paths (or, for a path not written yet, its folder) on one file system.
bool OnSameFileSystem(const std::string& a, const std::string& b);

// ----- titles ----------------------------------------------------------------------------

// Entry `kind` (10 counting as 4) of the '|'-separated kind names, cut before its first
// '('; empty when the list has no such entry.
std::string KindName(const std::string& kindNames, int kind);
// "name.ext:   width x height   kind   N dpi" with lengths in `unit`; the document title is
// two blanks followed by it.
std::string DocumentTitleText(const ImageState& fileImage, const ImageState& working,
                              const std::string& kindNames, int32_t unit);
std::string MainWindowTitle(const std::string& appTitle, const std::string& documentTitle);

// ----- saving and copies -----------------------------------------------------------------

// Progress of a long loop (the GUI shows a progress dialog; tests count).
class ProgressReporter {
 public:
  virtual ~ProgressReporter() = default;
  virtual void Step() = 0;
};
// Makes the progress of a loop over `lines` lines captioned with string `captionId`.
using ProgressFactory = std::function<std::unique_ptr<ProgressReporter>(int captionId, int lines)>;

enum class SaveResult {
  Saved,
  NoRoom,     // message shown, nothing changed
  Cancelled,  // Esc or Cancel; nothing changed
  Failed,     // writing failed; message shown, nothing changed
  NeedsSaveAs,
};

// Writes `working` with its pending filters into `target` in `format` through the scan
// output writer: into a temporary file in the target's folder that is renamed over the
// target only when complete, so a cancelled or failed write leaves the target as it was.
// The record describing the written file is returned in *written (standalone, owned by
// the caller) when asked for. `jpegClamp`: a JPEG taller than the format allows is cut.
// *filtersApplied tells whether a pending filter changed the pixels on the way.
SaveResult WriteImageLines(const ImageState* fileImage, ImageState* working, uint32_t format,
                           const std::string& target, bool jpegClamp, const ProgressFactory& progress,
                           ImageState** written, bool* filtersApplied);

class ImageDocument {
 public:
  ImageDocument();
  ~ImageDocument();
  ImageDocument(const ImageDocument&) = delete;
  ImageDocument& operator=(const ImageDocument&) = delete;

  ImageState* working() const { return m_pImage; }
  ImageState* fileImage() const { return m_pFileImage; }
  // A tool made a new version (the chain's last record).
  void SetWorking(ImageState* image) { m_pImage = image; }
  bool discardChanges() const { return m_bDiscardChanges; }
  void SetDiscardChanges(bool discard) { m_bDiscardChanges = discard; }

  // Saves the working version over the user's file.
  SaveResult Save(const ProgressFactory& progress);
  // Writes a copy of the working version into `path` in `format`; the chain stays.
  SaveResult WriteCopy(uint32_t format, const std::string& path, const ProgressFactory& progress);

  bool CloseAsks() const { return orb::CloseAsks(*m_pFileImage, *m_pImage, m_bDiscardChanges); }

 private:
  // Frees every record but `keep`, removing their temporary files; never the user's file
  // nor the file `keep` stands for.
  void FreeChainExcept(ImageState* keep);

  ImageState* m_pImage = nullptr;
  ImageState* m_pFileImage = nullptr;
  bool m_bDiscardChanges = false;
};

// ----- opening ---------------------------------------------------------------------------

enum class OpenResult {
  Opened,
  CannotOpen,    // missing, not a regular file, or refused by the system: a message names it
  Cancelled,     // Esc while decoding or drawing: no message
  DecodeFailed,  // the imaging library cannot read it: message 201
};
// Opens `path` into the working image of a new document: the program's own TIFF reader
// when it takes the file, else the imaging library decodes it on this thread while the
// installed display sink draws the rows. `updateTitle` runs when the image's size is known.
OpenResult OpenImageIntoDocument(ImageState* working, const std::string& path,
                                 const std::function<void()>& updateTitle);
// Opens an image file with `flags` (O_RDONLY or O_RDWR) without ever blocking: anything but a
// regular file (a pipe, device, socket or folder) is refused. When `report`, a refusal is
// told in a message naming the file. -1 when refused.
int OpenImageFileForReading(const std::string& path, int flags, bool report);
// The image format of the file at `path` by its content, whatever its name says: the
// container of an output format code (1 TIFF, 2 JPEG, 3 PNG, 4 PDF, 5 JPEG 2000, 6 BMP), or 0
// when it is none of them or cannot be read (nothing is said; never blocks).
uint32_t ImageFormatByContent(const std::string& path);

}  // namespace orb
