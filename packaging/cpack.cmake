# `make package`: a Debian package of everything the install rules put under
# /usr. Depends are the "Run" part of debian-packages.txt (QML modules, the
# platform plugins and tools that no link reveals) plus what dpkg-shlibdeps
# finds the binaries linked against (the Qt 6 libraries, libsystemd0, libc).
set(TOLVO_PACKAGE_MAINTAINER "Tolvo developers"
    CACHE STRING "Maintainer field of the Debian package")

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian-packages.txt lines)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/debian-packages.txt)
set(section "")
set(run_packages "")
foreach(line IN LISTS lines)
    if(line MATCHES "^# *([A-Za-z]+)")
        set(section ${CMAKE_MATCH_1})
    elseif(section STREQUAL "Run" AND line MATCHES "^[a-z0-9]")
        list(APPEND run_packages ${line})
    endif()
endforeach()
list(JOIN run_packages ", " TOLVO_RUN_DEPENDS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvo)
set(CPACK_PACKAGE_VENDOR "Tolvo")
set(CPACK_PACKAGE_CONTACT ${TOLVO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_DESCRIPTION
    "Tolvo lists every Claude Code session that reports to it through Claude Code's hooks: \
which project each one works in, whether it is working, waiting for input or ready, what it \
is doing, and a log of its recent hook events. It raises desktop notifications when a session \
needs permission, finishes or goes idle.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tolvo_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS ${TOLVO_RUN_DEPENDS})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
