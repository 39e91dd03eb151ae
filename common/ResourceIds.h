// Numeric ids of the resources the program takes from the language module. Every id the
// code asks for is listed in RequiredResources() so that a test can check that the English
// module holds it; code that asks the module for a new id adds it there.
#pragma once

#include <vector>

namespace orb::res {

// XRC objects (dialogs, pages, menus, toolbars), named by their numeric ids.
inline constexpr int IDR_MAINFRAME = 128;       // main menu bar and document resources
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_DIALOGBAR = 147;       // dialog bar at the left edge
inline constexpr int IDD_THUMBNAIL = 238;       // thumbnail dialog
inline constexpr int IDR_TOOLBAR = 1000;
inline constexpr int IDD_PAGE_PRESETS = 231;
inline constexpr int IDD_PAGE_TOOLS = 166;
inline constexpr int IDD_PAGE_OTHER_TOOLS = 107;
inline constexpr int IDD_PAGE_SETTINGS = 211;
inline constexpr int IDD_PAGE_CONNECTION = 127;
// Pages of the scan settings sheet.
inline constexpr int IDD_PAGE_SCAN_OUTPUT = 102;
inline constexpr int IDD_PAGE_SCAN_GENERAL = 145;
inline constexpr int IDD_PAGE_SCAN_EXTENDED = 155;
inline constexpr int IDD_PAGE_SCAN_MEDIA = 251;
// Dialogs.
inline constexpr int IDD_QUALITY = 249;          // compression quality
inline constexpr int IDD_TIFF_OPTIONS = 279;
inline constexpr int IDD_FILE_NAMING = 159;
inline constexpr int IDD_PROGRESS = 240;
inline constexpr int IDD_PRESET = 233;           // preset name and description

// Controls and commands.
inline constexpr int IDC_LAYOUT_BUTTON = 1349;  // dialog bar button running the layout command
inline constexpr int ID_TOGGLE_LAYOUT = 40012;
inline constexpr int ID_SEND_MAIL = 40039;

// Bitmaps of the layout button (images in the module).
inline constexpr int IDB_LAYOUT_COMPACT = 303;
inline constexpr int IDB_LAYOUT_SHEETS = 304;

// Strings.
inline constexpr int IDS_TOOLTIP_NONE = 33008;      // tooltip of a control without its own text
inline constexpr int IDS_SCANNER_TAB = 33086;       // caption of the scan sheet's first tab
inline constexpr int IDS_NO_SCANNER = 33087;
inline constexpr int IDS_APP_TITLE = 33095;
inline constexpr int IDS_INDICATOR_2 = 33097;       // status bar panes 2 and 1
inline constexpr int IDS_INDICATOR_1 = 33098;
inline constexpr int IDS_FORMATS_COLOR = 33105;     // output-format lists by image-kind group
inline constexpr int IDS_FORMATS_PALETTE = 33106;
inline constexpr int IDS_FORMATS_BW = 33107;
inline constexpr int IDS_FORMATS_GREY = 33108;
inline constexpr int IDS_IMAGING_INIT_FAILED = 35001;  // "%d": imaging library start-up code
inline constexpr int IDS_DOC_FILTER = 35002;           // file types of the open dialog
inline constexpr int IDS_STATUS_READY = 35003;
inline constexpr int IDS_PAGE_PRESETS = 32792;      // view options page captions
inline constexpr int IDS_PAGE_TOOLS = 32779;
inline constexpr int IDS_PAGE_OTHER_TOOLS = 32781;
inline constexpr int IDS_PAGE_SETTINGS = 32780;
inline constexpr int IDS_PAGE_CONNECTION = 33012;
inline constexpr int IDS_PAGE_SCAN_GENERAL = 32777;  // scan sheet page captions (page 0
inline constexpr int IDS_PAGE_SCAN_EXTENDED = 32778; // takes the scanner line)
inline constexpr int IDS_PAGE_SCAN_MEDIA = 32782;
inline constexpr int IDS_PANE_SCAN = 35110;          // captions of the docked panes
inline constexpr int IDS_PANE_THUMBNAIL = 35111;
inline constexpr int IDS_PANE_VIEW_OPTIONS = 35112;
inline constexpr int IDS_ABOUT_LINE = 33092;           // the program's line in the About box
inline constexpr int IDS_BATCH_RUN_UNAVAILABLE = 35120;   // "%s": the batch file
inline constexpr int IDS_BATCH_SCAN_UNAVAILABLE = 35121;
inline constexpr int IDS_SCAN_NOT_WRITTEN = 35122;     // status line of a scan not written
inline constexpr int IDS_BROWSE_OUTPUT_TITLE = 35123;  // titles of file dialogs
inline constexpr int IDS_PROFILE_TITLE = 35124;
inline constexpr int IDS_OPEN_TITLE = 35125;
inline constexpr int IDS_SAVE_AS_TITLE = 35126;
// Presets and the presets, general settings and connection pages.
inline constexpr int IDS_PRESET_EXISTS = 33013;
inline constexpr int IDS_PRESET_COLOUR_ON_GREY = 33077;
inline constexpr int IDS_PRESET_DELETE_ASK = 33084;
inline constexpr int IDS_PRESET_FACTORY_DELETE = 33085;
inline constexpr int IDS_FOLDER_CREATE_ASK = 33023;
inline constexpr int IDS_FOLDER_NOT_CREATED = 33024;
inline constexpr int IDS_FOLDER_NOT_PLAIN = 33025;
inline constexpr int IDS_LANGUAGE_NEXT_START = 33064;
inline constexpr int IDS_LANGUAGE_NAME = 33076;
inline constexpr int IDS_PRESET_NOT_SAVED = 35400;     // "%s": why
inline constexpr int IDS_PRESET_NAME_BAD = 35401;
inline constexpr int IDS_PRESET_NAME_LONG = 35402;
inline constexpr int IDS_PRESET_FACTORY_REPLACE = 35403;
inline constexpr int IDS_PRESET_SCAN_DAMAGED = 35404;  // "%s": the preset
inline constexpr int IDS_FOLDER_TOO_LONG = 35405;
inline constexpr int IDS_ADDRESS_BAD = 35406;
inline constexpr int IDS_PORT_BAD = 35407;
inline constexpr int IDS_CONNECTION_NOT_SAVED = 35408; // "%s": the file
inline constexpr int IDS_PRESET_NO_HEADER = 35409;     // "%s": the preset
inline constexpr int IDS_PRESET_FACTORY_TEXT = 35410;
inline constexpr int IDS_PRESET_BROWSE_TITLE = 35411;
inline constexpr int IDS_PRESET_TOOLS_UNREAD = 35413;  // "%s": the preset, "%s": the tools
inline constexpr int IDS_PRESET_NO_FAMILY = 35414;

// Ids of 0x7FFF and above do not fit the toolkit's ids of menu items, tools and windows
// (0 to 0x7FFE). They are carried moved down by 0x2000, into 0x5FFF..0x7FFE, a range no
// other id of the program uses; the module's XRC names such objects by the moved number.
constexpr int WxCommandId(int command) { return command >= 0x7FFF ? command - 0x2000 : command; }
constexpr int CommandFromWx(int id) { return id >= 0x5FFF && id <= 0x7FFE ? id + 0x2000 : id; }
static_assert(WxCommandId(40039) < 0x7FFF && CommandFromWx(WxCommandId(32793)) == 32793);

// The image view's context menus (135 to 143) and the thumbnail dialog's button pictures.
inline constexpr int IDR_VIEW_MENU_FIRST = 135;
inline constexpr int IDR_VIEW_MENU_LAST = 143;
inline constexpr int IDB_THUMB_ZOOM_IN = 173;
inline constexpr int IDB_THUMB_ZOOM_OUT = 174;
inline constexpr int IDB_THUMB_WHOLE_IMAGE = 175;
inline constexpr int IDB_THUMB_ACTUAL_SIZE = 176;
inline constexpr int IDB_THUMB_MAGNIFIER = 256;
inline constexpr int IDB_THUMB_DRAG_SCROLL = 260;

enum class Kind { String, Object, Image };
struct Required {
  Kind kind;
  int id;
};

// Every resource the program asks for; the English module must hold all of them.
const std::vector<Required>& RequiredResources();

// The member name of an image resource inside the module ("images/<id>.png").
inline constexpr const char* kImageFolder = "images/";

}  // namespace orb::res
