// How the tool pages reach the image they work on without knowing the shell: the shell
// installs a ToolDocumentHost that finds the working version of the active view's
// document, makes a new version the working one, and redraws the view, the title and the
// thumbnail. With none installed (or no document open) the tools find no image and do
// nothing to one.
//
// On top of it: the apply of a pipeline tool (new version, undoable) and the live preview
// of the tools that only mark their filter pending on the working version.
#pragma once

#include <functional>
#include <memory>

#include "engine/ImageState.h"
#include "tools/ApplyPipeline.h"

namespace orb::tools {

class ToolDocumentHost {
 public:
  virtual ~ToolDocumentHost() = default;
  // The working version of the active view's document; null when none is open.
  virtual ImageState* ActiveImage() = 0;
  // A tool made `image` (the chain's newest version) the document's working version.
  virtual void SetWorkingImage(ImageState* image) = 0;
  // Updates the active view with a view hint (2 actual size, 4 rebuild through the pending
  // filters, 5 redraw, 6 whole image) and repaints it at once.
  virtual void UpdateView(int hint) = 0;
  // The document's title and the thumbnail dialog after the image changed.
  virtual void ImageChanged() = 0;
  // An outside program may have rewritten the image's file: the document reads it again
  // when the file is what it shows (no later version), then redraws; otherwise a repaint.
  virtual void FileChanged() { UpdateView(4); }
  // The progress of an apply (null: none shown).
  virtual std::unique_ptr<IApplyProgress> MakeProgress(int captionId, int lines) = 0;
};

void SetToolDocumentHost(ToolDocumentHost* host);
ToolDocumentHost* GetToolDocumentHost();
// The active working version, or null.
ImageState* ActiveToolImage();

// View hints the tools use.
inline constexpr int kViewHintActualSize = 2;
inline constexpr int kViewHintRepaint = 4;
inline constexpr int kViewHintRedraw = 5;
inline constexpr int kViewHintWholeImage = 6;

// Applies a pipeline tool to the active image: -1 without an image or when the disk is
// short (nothing changed), else 0 (applied, or cancelled or failed with nothing changed).
// The view, title and thumbnail follow in every case that ran.
int ApplyToolToActiveImage(const ApplyPlan& plan);
// The same for a tool's own run over the active image (the palette conversion).
int ApplyToActiveImage(const std::function<ApplyOutcome(ImageState*, const ApplyProgressFactory&)>& run);

// Which pending flag a preview tool sets on the working version.
enum class PendingFilter { BrightCont, BWPoint, ToneCurve, Threshold };

// The live preview of a value change: marks the filter pending and edited on the active
// working version and rebuilds the view through it. False when no image is open (the value
// is kept; nothing is drawn).
bool PreviewPendingFilter(PendingFilter which);

}  // namespace orb::tools
