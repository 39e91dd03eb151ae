#include "common/ResourceIds.h"

namespace orb::res {

const std::vector<Required>& RequiredResources() {
  static const std::vector<Required> kAll = {
      {Kind::Object, IDR_MAINFRAME},        {Kind::Object, IDD_ABOUTBOX},
      {Kind::Object, IDD_DIALOGBAR},        {Kind::Object, IDD_THUMBNAIL},
      {Kind::Object, IDR_TOOLBAR},          {Kind::Object, IDD_PAGE_PRESETS},
      {Kind::Object, IDD_PAGE_TOOLS},       {Kind::Object, IDD_PAGE_OTHER_TOOLS},
      {Kind::Object, IDD_PAGE_SETTINGS},    {Kind::Object, IDD_PAGE_CONNECTION},
      {Kind::Object, IDD_PAGE_SCAN_OUTPUT}, {Kind::Object, IDD_PAGE_SCAN_GENERAL},
      {Kind::Object, IDD_PAGE_SCAN_EXTENDED}, {Kind::Object, IDD_PAGE_SCAN_MEDIA},
      {Kind::Object, IDC_LAYOUT_BUTTON},
      {Kind::Image, IDB_LAYOUT_COMPACT},    {Kind::Image, IDB_LAYOUT_SHEETS},
      {Kind::String, IDS_TOOLTIP_NONE},     {Kind::String, IDS_SCANNER_TAB},
      {Kind::String, IDS_NO_SCANNER},       {Kind::String, IDS_APP_TITLE},
      {Kind::String, IDS_INDICATOR_1},      {Kind::String, IDS_INDICATOR_2},
      {Kind::String, IDS_FORMATS_COLOR},    {Kind::String, IDS_FORMATS_PALETTE},
      {Kind::String, IDS_FORMATS_BW},       {Kind::String, IDS_FORMATS_GREY},
      {Kind::String, IDS_IMAGING_INIT_FAILED}, {Kind::String, IDS_DOC_FILTER},
      {Kind::String, IDS_STATUS_READY},     {Kind::String, IDS_PAGE_PRESETS},
      {Kind::String, IDS_PAGE_TOOLS},       {Kind::String, IDS_PAGE_OTHER_TOOLS},
      {Kind::String, IDS_PAGE_SETTINGS},    {Kind::String, IDS_PAGE_CONNECTION},
      {Kind::String, IDS_PAGE_SCAN_GENERAL}, {Kind::String, IDS_PAGE_SCAN_EXTENDED},
      {Kind::String, IDS_PAGE_SCAN_MEDIA},  {Kind::String, IDS_PANE_SCAN},
      {Kind::String, IDS_PANE_THUMBNAIL},   {Kind::String, IDS_PANE_VIEW_OPTIONS},
      {Kind::Object, IDD_QUALITY},          {Kind::Object, IDD_TIFF_OPTIONS},
      {Kind::Object, IDD_FILE_NAMING},      {Kind::Object, IDD_PROGRESS},
      {Kind::String, IDS_ABOUT_LINE},       {Kind::String, IDS_BATCH_RUN_UNAVAILABLE},
      {Kind::String, IDS_BATCH_SCAN_UNAVAILABLE}, {Kind::String, IDS_SCAN_NOT_WRITTEN},
      {Kind::String, IDS_BROWSE_OUTPUT_TITLE}, {Kind::String, IDS_PROFILE_TITLE},
      {Kind::String, IDS_OPEN_TITLE},       {Kind::String, IDS_SAVE_AS_TITLE},
      {Kind::Object, IDR_VIEW_MENU_FIRST}, {Kind::Object, 136}, {Kind::Object, 137}, {Kind::Object, 138},
      {Kind::Object, 140}, {Kind::Object, 141}, {Kind::Object, 142}, {Kind::Object, IDR_VIEW_MENU_LAST},
      {Kind::Image, IDB_THUMB_ZOOM_IN},     {Kind::Image, IDB_THUMB_ZOOM_OUT},
      {Kind::Image, IDB_THUMB_WHOLE_IMAGE}, {Kind::Image, IDB_THUMB_ACTUAL_SIZE},
      {Kind::Image, IDB_THUMB_MAGNIFIER},   {Kind::Image, IDB_THUMB_DRAG_SCROLL},
      {Kind::Object, IDD_PRESET},
      {Kind::String, IDS_PRESET_EXISTS},    {Kind::String, IDS_PRESET_COLOUR_ON_GREY},
      {Kind::String, IDS_PRESET_DELETE_ASK}, {Kind::String, IDS_PRESET_FACTORY_DELETE},
      {Kind::String, IDS_FOLDER_CREATE_ASK}, {Kind::String, IDS_FOLDER_NOT_CREATED},
      {Kind::String, IDS_FOLDER_NOT_PLAIN}, {Kind::String, IDS_LANGUAGE_NEXT_START},
      {Kind::String, IDS_LANGUAGE_NAME},    {Kind::String, IDS_PRESET_NOT_SAVED},
      {Kind::String, IDS_PRESET_NAME_BAD},  {Kind::String, IDS_PRESET_NAME_LONG},
      {Kind::String, IDS_PRESET_FACTORY_REPLACE}, {Kind::String, IDS_PRESET_SCAN_DAMAGED},
      {Kind::String, IDS_FOLDER_TOO_LONG},  {Kind::String, IDS_ADDRESS_BAD},
      {Kind::String, IDS_PORT_BAD},         {Kind::String, IDS_CONNECTION_NOT_SAVED},
      {Kind::String, IDS_PRESET_NO_HEADER}, {Kind::String, IDS_PRESET_FACTORY_TEXT},
      {Kind::String, IDS_PRESET_BROWSE_TITLE},
      {Kind::String, IDS_PRESET_TOOLS_UNREAD}, {Kind::String, IDS_PRESET_NO_FAMILY},
  };
  return kAll;
}

}  // namespace orb::res
