# The wx programs. Their adapters are the gui libraries of each folder (see the folders'
# CMakeLists.txt); the file holding wxIMPLEMENT_APP is each program's main.cpp, kept out of
# the libraries so that GUI tests link the same adapters with an application of their own.
# The initial data folder beside the programs (the first run copies it).
add_subdirectory(${CMAKE_SOURCE_DIR}/initial_data ${CMAKE_BINARY_DIR}/initial_data)

if(NOT ORB_BUILD_GUI)
  return()
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/app/gui/main.cpp)
  add_executable(orbalon ${CMAKE_SOURCE_DIR}/app/gui/main.cpp)
  orb_warnings(orbalon)
  target_link_libraries(orbalon PRIVATE orb_app_gui)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/scheduler/gui/main.cpp)
  add_executable(plovis ${CMAKE_SOURCE_DIR}/scheduler/gui/main.cpp)
  orb_warnings(plovis)
  target_link_libraries(plovis PRIVATE orb_scheduler_gui)
endif()
