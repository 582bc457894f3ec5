# `cmake --install` puts the Corvane library in place for other projects:
#   find_package(Corvane REQUIRED)
#   target_link_libraries(app PRIVATE Corvane::http)   # or ::webform, ::ftp, ::mail
# The components need the component core and the platform layer below it (no Qt): those are
# installed and exported too, and come along with any component target.
include(GNUInstallDirs)

# The web form lives in the HTTP unit; its own name reads better in a user's project.
add_library(corv_webform INTERFACE)
target_link_libraries(corv_webform INTERFACE corv_http)

set(_corvane_targets
    win32:win32 winsock:winsock vcl_core:vcl_core corv_core:core corv_mime:mime corv_http:http
    corv_webform:webform corv_mail:mail corv_ftp:ftp)
foreach(_pair ${_corvane_targets})
  string(REPLACE ":" ";" _pair ${_pair})
  list(GET _pair 0 _target)
  list(GET _pair 1 _export)
  set_target_properties(${_target} PROPERTIES EXPORT_NAME ${_export})
  get_target_property(_type ${_target} TYPE)
  if(NOT _type STREQUAL "INTERFACE_LIBRARY")
    # libcorvane_win32.a rather than a bare libwin32.a beside other libraries of the prefix.
    set_target_properties(${_target} PROPERTIES OUTPUT_NAME corvane_${_export})
  endif()
  install(TARGETS ${_target} EXPORT CorvaneTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endforeach()

# Headers keep their paths from the repository root, as the sources include them.
foreach(_dir platform/win32 platform/winsock platform/vcl/core corv/core corv/mime corv/http corv/mail corv/ftp)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${_dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${_dir}
          FILES_MATCHING PATTERN "*.h" PATTERN "detail" EXCLUDE)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/corv/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/Corvane)

set(_corvane_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
install(EXPORT CorvaneTargets NAMESPACE Corvane:: DESTINATION ${_corvane_cmake_dir})
file(WRITE ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake
     "include(CMakeFindDependencyMacro)\n"
     "find_dependency(Threads)\n"
     "include(\"\${CMAKE_CURRENT_LIST_DIR}/CorvaneTargets.cmake\")\n")
install(FILES ${PROJECT_BINARY_DIR}/CorvaneConfig.cmake DESTINATION ${_corvane_cmake_dir})
