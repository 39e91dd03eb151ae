# The wx programs. Their adapters live in each folder's gui/; the file holding
# wxIMPLEMENT_APP is each program's main.cpp, kept out of the libraries so that
# GUI tests link the same adapters with an application of their own.
if(NOT ORB_BUILD_GUI)
  return()
endif()

set(_gui_srcs)
foreach(dir app scanning tools)
  orb_gui_sources(s ${CMAKE_SOURCE_DIR}/${dir})
  list(APPEND _gui_srcs ${s})
endforeach()
list(FILTER _gui_srcs EXCLUDE REGEX "/main\\.cpp$")
if(_gui_srcs)
  add_library(orb_app_gui STATIC ${_gui_srcs})
  orb_warnings(orb_app_gui)
  target_link_libraries(orb_app_gui PUBLIC orb_tools_core orb_scanning_core orb_app_core wx_all)
else()
  add_library(orb_app_gui INTERFACE)
  target_link_libraries(orb_app_gui INTERFACE orb_tools_core orb_scanning_core orb_app_core wx_all)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/app/gui/main.cpp)
  add_executable(orbalon ${CMAKE_SOURCE_DIR}/app/gui/main.cpp)
  orb_warnings(orbalon)
  target_link_libraries(orbalon PRIVATE orb_app_gui)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/scheduler/gui/main.cpp)
  file(GLOB_RECURSE _sched_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scheduler/gui/*.cpp)
  add_executable(plovis ${_sched_srcs})
  orb_warnings(plovis)
  target_link_libraries(plovis PRIVATE orb_scheduler_core wx_all)
endif()
