# The defaults beside the built executable, the installation, the Debian
# package, and the HTTP and install tests. Included from the top-level
# CMakeLists.txt.

# Keep the copies of default.cgi and default.mime beside the executable in
# step with data/ whenever they change, not only when the program relinks.
set(parcelot_defaults
  ${CMAKE_CURRENT_SOURCE_DIR}/data/default.cgi
  ${CMAKE_CURRENT_SOURCE_DIR}/data/default.mime)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/defaults.stamp
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${parcelot_defaults} $<TARGET_FILE_DIR:parcelot>
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_CURRENT_BINARY_DIR}/defaults.stamp
  DEPENDS ${parcelot_defaults}
  COMMENT "Placing default.cgi and default.mime beside the executable")
add_custom_target(parcelot_defaults ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/defaults.stamp)
# After the program's own post-build copy, never at the same time.
add_dependencies(parcelot_defaults parcelot)

# Installation. The program takes its defaults from beside its real path, so
# on POSIX it lives in a private directory with them, and bin/ holds a
# relative symbolic link to it, which works under any prefix.
include(GNUInstallDirs)
if(WIN32)
  install(TARGETS parcelot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${parcelot_defaults} DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  set(parcelot_private_dir lib/parcelot)
  install(TARGETS parcelot RUNTIME DESTINATION ${parcelot_private_dir})
  install(PROGRAMS data/default.cgi DESTINATION ${parcelot_private_dir})
  install(FILES data/default.mime DESTINATION ${parcelot_private_dir})
  set(parcelot_link ${CMAKE_CURRENT_BINARY_DIR}/install-link/parcelot)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install-link)
  file(CREATE_LINK ../${parcelot_private_dir}/parcelot ${parcelot_link} SYMBOLIC)
  install(FILES ${parcelot_link} DESTINATION bin)
  install(FILES docs/parcelot.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# cpack -G DEB: a Debian package of the same installation under /usr.
set(CPACK_PACKAGE_NAME parcelot)
set(CPACK_PACKAGE_VENDOR "Parcelot")
set(CPACK_PACKAGE_CONTACT "Parcelot maintainers <maintainers@parcelot.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "cuts files into numbered chunks that a web server serves through a CGI script")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd | httpd-cgi")
include(CPack)

# The HTTP and install tests (label "http"; they need lighttpd and curl, and
# scripts/test.d/50-http.sh builds and runs them in a build of their own).
option(PARCELOT_HTTP_TESTS "Register the HTTP and install tests" OFF)
if(PARCELOT_HTTP_TESTS)
  enable_testing()
  add_subdirectory(tests/http)
endif()
