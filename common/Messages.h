// Private messages of the program; the process-wide status word and cancel flag.
//
// Windows that receive private messages are reached through opaque handles so that
// display-free code (scan threads, the batch engine) can post to them. The GUI layer
// installs the transport that turns a post into a queued wx event; until it does, and for
// a null handle, posts are refused (never sent to a dangling window).
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/AppStatus.h"

// Base of the private message numbers.
inline constexpr uint32_t WM_APP = 0x8000;

// Scan and scanner messages to the main frame.
inline constexpr uint32_t WM_SCAN_NEW_DOCUMENT = WM_APP + 0x01;
inline constexpr uint32_t WM_SCAN_STOP = WM_APP + 0x02;
inline constexpr uint32_t WM_SCAN_DISCARD_RESTART = WM_APP + 0x03;
inline constexpr uint32_t WM_SCAN_ACCEPT_PAGE = WM_APP + 0x04;
inline constexpr uint32_t WM_SCAN_REJECT_PAGE = WM_APP + 0x05;
inline constexpr uint32_t WM_SCAN_COMPLETE = WM_APP + 0x09;
// wParam of WM_SCAN_COMPLETE when the scan's file could not be written (a full disk): the
// scan failed, and no decision on it is offered.
inline constexpr uintptr_t kScanCompleteNotWritten = 1;
inline constexpr uint32_t WM_SCANNER_UNLOAD = WM_APP + 0x0A;
inline constexpr uint32_t WM_SCANNER_LOAD = WM_APP + 0x0B;
inline constexpr uint32_t WM_SCANNER_BUSY = WM_APP + 0x0C;
inline constexpr uint32_t WM_LOAD_PRESET = WM_APP + 0x0D;
inline constexpr uint32_t WM_SCANNER_CALIBRATE = WM_APP + 0x0E;
inline constexpr uint32_t WM_SCANNER_ALIGN = WM_APP + 0x0F;
inline constexpr uint32_t WM_SCANNER_DIAGNOSTICS = WM_APP + 0x10;
inline constexpr uint32_t WM_APPLY_PAPER_STAGING = WM_APP + 0x13;
inline constexpr uint32_t WM_APPLY_PAPER_TRANSPORT = WM_APP + 0x14;
inline constexpr uint32_t WM_SCAN_BATCH_WAIT = WM_APP + 0x15;
inline constexpr uint32_t WM_RUN_BATCH_FILE = WM_APP + 0x67;

// View-side messages.
inline constexpr uint32_t WM_RESIZE_PAGE = WM_APP + 0x01;        // to the view options sheet
inline constexpr uint32_t WM_THUMB_REFRESH = WM_APP + 0x06;      // to the thumbnail dialog
inline constexpr uint32_t WM_THUMB_CLEAR = WM_APP + 0x07;        // to the thumbnail dialog
inline constexpr uint32_t WM_THUMB_REDRAW_VIEW = WM_APP + 0x08;  // to the thumbnail dialog
inline constexpr uint32_t WM_SHOW_MAGNIFIER = WM_APP + 0x11;     // to the image view
inline constexpr uint32_t WM_TOOL_APPLY = WM_APP + 0x65;         // tool page -> hosting page
inline constexpr uint32_t WM_TOOL_ENABLE = WM_APP + 0x66;        // tool page -> hosting page

// The command the scanner's button posts to the main frame.
inline constexpr int ID_SCANNER_BUTTON = 32797;

// The process-wide status word (its bits: engine/AppStatus.h) and the cancel flag (set by
// Esc and the progress dialog's Cancel, cleared by whoever starts a long operation). Worker
// threads read both. They are defined by the engine (engine/EngineHost.cpp), which polls
// them too.
extern std::atomic<uint8_t> CancelFlag;

namespace orb {

// A window that can receive private messages; owned by the GUI layer.
using WindowHandle = void*;

// How a message reaches a window. `post` queues it (any thread); `send` delivers it at
// once on the GUI thread and returns the handler's result.
struct MessageTransport {
  bool (*post)(WindowHandle, uint32_t msg, uintptr_t wParam, intptr_t lParam) = nullptr;
  intptr_t (*send)(WindowHandle, uint32_t msg, uintptr_t wParam, intptr_t lParam) = nullptr;
};

// Installed once by the GUI layer before any window is published.
void SetMessageTransport(const MessageTransport& transport);

// Queue a message for a window; false when the handle is null or no transport exists.
bool PostAppMessage(WindowHandle target, uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
// Deliver at once (GUI thread only); 0 when the handle is null or no transport exists.
intptr_t SendAppMessage(WindowHandle target, uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);

}  // namespace orb

// Windows that other parts of the program post to. g_hMainFrame is published as soon as
// the frame object exists, before any scanner object or thread that could post to it.
extern std::atomic<orb::WindowHandle> g_hMainFrame;
extern std::atomic<orb::WindowHandle> g_hThumbDlg;
extern std::atomic<orb::WindowHandle> g_hToolsPage;
extern std::atomic<orb::WindowHandle> g_hOtherToolsPage;
