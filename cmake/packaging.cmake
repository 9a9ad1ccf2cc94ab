# Release facts shared by the manual page, the AppStream metadata and the Debian package, and
# the package itself (cpack -G DEB in the build folder).
#
# The package puts the program where Debian's own games have it, /usr/games, with a menu
# entry that starts it from there; a `cmake --install` into a prefix keeps bin/. The two
# differ only in those two files, installed as separate components: "prefix" for the plain
# install, "package" (left out of a plain install) for the package.

# QEV_RELEASE_DATE (YYYY-MM-DD, set by the top CMakeLists) in the forms the formats want:
# QEV_RELEASE_DATE_LONG "December 9, 2026" (manual page) and QEV_RELEASE_DATE_RFC2822
# "Wed, 09 Dec 2026 00:00:00 +0000" (Debian changelog).
if(NOT QEV_RELEASE_DATE MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  message(FATAL_ERROR "QEV_RELEASE_DATE must read YYYY-MM-DD, not '${QEV_RELEASE_DATE}'")
endif()
math(EXPR _qev_year "${CMAKE_MATCH_1}")
math(EXPR _qev_month "1${CMAKE_MATCH_2} - 100")
math(EXPR _qev_day "1${CMAKE_MATCH_3} - 100")
set(_qev_day2 "${CMAKE_MATCH_3}")
set(_qev_month_names January February March April May June July August September October
    November December)
math(EXPR _qev_month_index "${_qev_month} - 1")
list(GET _qev_month_names ${_qev_month_index} _qev_month_name)
string(SUBSTRING "${_qev_month_name}" 0 3 _qev_month_short)
# Day of the week (0 = Sunday), Sakamoto's method.
set(_qev_month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
list(GET _qev_month_offsets ${_qev_month_index} _qev_offset)
set(_qev_y ${_qev_year})
if(_qev_month LESS 3)
  math(EXPR _qev_y "${_qev_y} - 1")
endif()
math(EXPR _qev_weekday
     "(${_qev_y} + ${_qev_y} / 4 - ${_qev_y} / 100 + ${_qev_y} / 400 + ${_qev_offset} + ${_qev_day}) % 7")
set(_qev_weekday_names Sun Mon Tue Wed Thu Fri Sat)
list(GET _qev_weekday_names ${_qev_weekday} _qev_weekday_name)
set(QEV_RELEASE_DATE_LONG "${_qev_month_name} ${_qev_day}, ${_qev_year}")
set(QEV_RELEASE_DATE_RFC2822
    "${_qev_weekday_name}, ${_qev_day2} ${_qev_month_short} ${_qev_year} 00:00:00 +0000")
set(QEV_RELEASE_YEAR ${_qev_year})

set(QEV_PACKAGE_MAINTAINER "qev developers <maintainers@qev.invalid>" CACHE STRING
    "Maintainer of the Debian package: \"Name <address>\"")
# Where the package installs (its program then lies in ${QEV_PACKAGE_PREFIX}/games).
set(QEV_PACKAGE_PREFIX /usr)

if(QEV_BUILD_GUI)
  find_program(QEV_GZIP gzip REQUIRED) # the manual page and the changelog
endif()
if(NOT QEV_BUILD_GUI OR NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

include(GNUInstallDirs)
set(_qev_doc ${PROJECT_BINARY_DIR}/package-doc)
file(MAKE_DIRECTORY ${_qev_doc})

# Debian's documentation of the package: a machine-readable copyright file with the
# project's license, and a changelog in Debian's format for this version. Compressed
# without a time stamp, so the same sources give the same package.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _qev_license)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" _qev_license_text "${_qev_license}")
string(REGEX REPLACE "\n\n" "\n.\n" _qev_license_text "${_qev_license_text}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" _qev_license_text " ${_qev_license_text}")
string(REGEX REPLACE "\n$" "" _qev_license_text "${_qev_license_text}")
file(WRITE ${_qev_doc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: qev
Upstream-Contact: ${QEV_PACKAGE_MAINTAINER}

Files: *
Copyright: ${QEV_RELEASE_YEAR} qev developers
License: Expat

License: Expat
${_qev_license_text}
")
file(WRITE ${_qev_doc}/changelog
"qev (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${QEV_PACKAGE_MAINTAINER}  ${QEV_RELEASE_DATE_RFC2822}
")
execute_process(COMMAND ${QEV_GZIP} -9nf ${_qev_doc}/changelog COMMAND_ERROR_IS_FATAL ANY)

install(FILES ${_qev_doc}/copyright ${_qev_doc}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qev COMPONENT package EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qev)
set(CPACK_PACKAGE_VENDOR "qev developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QEV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${QEV_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON) # the debug data stays in the build folder
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Velmora Client: the game's pages in skinned windows
The Velmora Client shows the browser game Velmora's portal, realms, home page
and forum in windows of their own: a skinned login window, a main frame with
its own caption and tabs, and reminder windows that count down to the game's
activities, beside a tray icon.
.
Every page shares one web profile kept between starts. Pages may start a
download, lock the pointer or open a pop-up only after the player's own click
or key; other permissions are denied without a prompt.")
# Library dependencies are read off the program (shlibdeps); the web engine's helper process
# and the image plugins are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6webenginecore6-bin, qt6-qpa-plugins, qt6-image-formats-plugins")
# One package from every component but the plain install's.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified package)
include(CPack)
