# The installed pieces beyond the program and its desktop files: the manual
# page, the bash completion, the systemd user unit and the package's own
# documents; and `cpack -G DEB` (`make deb`) that makes a Debian package of the
# whole install.

set(ORNBROOK_MAINTAINER "Ornbrook developers <ornbrook@example.org>")
# Directories the install creates are 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian keeps manual pages and changelogs compressed, without a time stamp
# (-n), so that equal sources make equal packages.
configure_file(dist/changelog.in changelog @ONLY)
foreach(source ${CMAKE_SOURCE_DIR}/dist/ornbrook.1 ${CMAKE_BINARY_DIR}/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
        COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${source} ${CMAKE_BINARY_DIR}/${name}.gz
        DEPENDS ${source} VERBATIM)
    list(APPEND ornbrook_compressed ${CMAKE_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${ornbrook_compressed})

install(FILES ${CMAKE_BINARY_DIR}/ornbrook.1.gz DESTINATION share/man/man1)
install(FILES dist/ornbrook.bash DESTINATION share/bash-completion/completions
    RENAME ornbrook)
# A native package's changelog is changelog.gz (its version has no Debian revision).
install(FILES dist/copyright ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/ornbrook)

# The unit names the program by its installed path, which is known only when
# installing (`cmake --install --prefix DIR`, the package's /usr). Under /usr
# it goes where Debian keeps user units; under any other prefix to
# share/systemd/user, the one folder the user's service manager searches under
# /usr/local and ~/.local alike.
install(CODE "set(ornbrook_unit_in \"${CMAKE_SOURCE_DIR}/dist/ornbrook.service.in\")
    set(ornbrook_unit_out \"${CMAKE_BINARY_DIR}/unit/ornbrook.service\")")
install(CODE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
        set(ornbrook_unit_dir lib/systemd/user)
    else()
        set(ornbrook_unit_dir share/systemd/user)
    endif()
    set(ORNBROOK_BINARY "${CMAKE_INSTALL_PREFIX}/bin/ornbrook")
    configure_file("${ornbrook_unit_in}" "${ornbrook_unit_out}" @ONLY)
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${ornbrook_unit_dir}" TYPE FILE
        FILES "${ornbrook_unit_out}")
]])

# The package. The install runs with DESTDIR into CPack's staging folder, so
# that the install sees /usr as its prefix (the unit above depends on it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ornbrook)
set(CPACK_PACKAGE_VENDOR Ornbrook)
set(CPACK_PACKAGE_CONTACT ${ORNBROOK_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://ornbrook.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "watch FTP, FTPS and SFTP folders for new files
Ornbrook keeps a list of FTP, FTPS and SFTP folders and checks them again and
again: a name it has not seen before is new, a known name that is missing is
gone, a file whose size or time changed is changed. It shows them in a window
with a tray icon and desktop notifications, prints them on the command line,
or runs as a systemd user service without a desktop, and can download what
arrives and run a program for it.")
include(CPack)
