# One static library per folder: every .cpp in the folder (not in sub-folders).
# Headers are included from the repository root: #include "platform/win32/user.h".
function(tavlin_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:include>)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:include>)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One test executable per test_*.cpp / peers_*.cpp / gui_*.cpp file in the folder, so a
# broken test file never stops the others from building. The file name's prefix is its
# CTest label: test_ -> unit, peers_ -> peers (real servers), gui_ -> gui.
function(tavlin_tests)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/peers_*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/gui_*.cpp)
  foreach(_t ${_tests})
    get_filename_component(_base ${_t} NAME_WE)
    string(REGEX MATCH "^[a-z]+" _prefix ${_base})
    if(_prefix STREQUAL "test")
      set(_label unit)
    else()
      set(_label ${_prefix})
    endif()
    file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    string(REPLACE "/" "_" _rel "${_rel}")
    set(_exe ${_rel}_${_base})
    add_executable(${_exe} ${_t})
    target_link_libraries(${_exe} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
    target_compile_definitions(${_exe} PRIVATE
      TAVLIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TAVLIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${_exe} PROPERTIES LABELS ${_label} DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()
include(GoogleTest)
