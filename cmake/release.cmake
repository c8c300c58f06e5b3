# What a release ships (tools/release).  Only a configuration with ROMSETTER_RELEASE=ON gets the
# install rules and the Debian package of romsetter-cli; the Windows programs go into a zip that
# tools/release assembles itself.
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  # Every message box and failure line of the program has its row in the user guide's table.
  add_test(NAME user_guide_troubleshooting COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/check-guide)
endif()
if(NOT ROMSETTER_RELEASE OR WIN32)
  return()
endif()

# cpack installs only what is built; without this its install would build every test too.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(package_dir ${CMAKE_SOURCE_DIR}/packaging)
set(doc_dir share/doc/romsetter-cli)

# Debian wants its changelog and man pages compressed without a name or time stamp (gzip -n);
# the changelog's date is the release date (SOURCE_DATE_EPOCH, which CMake's TIMESTAMP honours).
string(TIMESTAMP release_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${package_dir}/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
set(compressed)
foreach(pair "package/changelog;${CMAKE_BINARY_DIR}/package/changelog"
             "romsetter-cli.1;${CMAKE_SOURCE_DIR}/docs/romsetter-cli.1")
  list(GET pair 0 name)
  list(GET pair 1 source)
  get_filename_component(base ${name} NAME)
  set(output ${CMAKE_BINARY_DIR}/package/${base}.gz)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9nc ${source} > ${output} DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(release_compressed ALL DEPENDS ${compressed})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS romsetter-cli RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/package/romsetter-cli.1.gz DESTINATION share/man/man1)
# Debian 12's udev reads packaged rules from /lib/udev/rules.d.
install(FILES ${package_dir}/70-romsetter.rules DESTINATION /lib/udev/rules.d)
install(FILES ${package_dir}/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
              ${CMAKE_SOURCE_DIR}/docs/user-guide.md ${CMAKE_SOURCE_DIR}/docs/cli.md
              ${CMAKE_SOURCE_DIR}/docs/linux.md ${CMAKE_SOURCE_DIR}/docs/main-window.png
              ${CMAKE_SOURCE_DIR}/docs/main-window-annotated.png
        DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME romsetter-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Romsetter developers <romsetter@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Morvent flash controller USB disks")
# CPack puts the summary first and indents these lines itself; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "romsetter-cli writes firmware, backup firmware, boot code and fonts into a
USB mass-storage device built on a Morvent flash controller and verifies
every page by reading it back. It also builds and unpacks upgrade packages,
reads the firmware back into a file and generates the font header.

The device is reached through the SCSI generic layer (SG_IO). The package's
udev rule gives the plugdev group access to the device's nodes.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
