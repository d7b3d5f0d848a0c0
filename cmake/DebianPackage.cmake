# The Debian package of the Linux program: `cpack -G DEB` in the build directory writes
# vellumor_<version>_<arch>.deb from what `cmake --install` puts in place, stripped, with its
# Depends worked out by dpkg-shlibdeps from the libraries the binary links.

set(VELLUMOR_PACKAGE_CONTACT "The Vellumor authors <vellumor@vellumor.org>" CACHE STRING
    "Maintainer of the Linux package, as 'Name <address>'")

# Sets `result` to the date `iso` (YYYY-MM-DD) as Debian changelogs write dates: "Sun, 06 Dec
# 2026 00:00:00 +0000". The day of the week by Sakamoto's method.
function(_vellumor_changelog_date iso result)
    string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" _ "${iso}")
    if(NOT CMAKE_MATCH_0)
        message(FATAL_ERROR "VELLUMOR_RELEASE_DATE is '${iso}', not YYYY-MM-DD")
    endif()
    set(year ${CMAKE_MATCH_1})
    math(EXPR month "${CMAKE_MATCH_2}")
    math(EXPR day "${CMAKE_MATCH_3}")
    math(EXPR index "${month} - 1")
    set(monthOffsets 0 3 2 5 0 3 5 1 4 6 2 4)
    list(GET monthOffsets ${index} offset)
    if(month LESS 3)
        math(EXPR year "${year} - 1")
    endif()
    math(EXPR weekday
        "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
    set(weekdays Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET weekdays ${weekday} weekdayName)
    list(GET months ${index} monthName)
    set(${result} "${weekdayName}, ${CMAKE_MATCH_3} ${monthName} ${CMAKE_MATCH_1} 00:00:00 +0000"
        PARENT_SCOPE)
endfunction()
_vellumor_changelog_date(${VELLUMOR_RELEASE_DATE} VELLUMOR_RELEASE_DATE_RFC2822)

# Debian's documentation directory holds the copyright notice and the changelog, compressed
# as Debian policy asks (gzip -9n: no name or time stamp inside, so the same bytes each time).
set(debianData ${PROJECT_SOURCE_DIR}/platform/qt/data/debian)
find_program(VELLUMOR_GZIP gzip REQUIRED)
configure_file(${debianData}/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND ${VELLUMOR_GZIP} -9nkf ${PROJECT_BINARY_DIR}/debian/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
    VERBATIM)
add_custom_target(vellumor_debian_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
include(GNUInstallDirs)
install(FILES ${debianData}/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vellumor)

set(CPACK_PACKAGE_NAME vellumor)
set(CPACK_PACKAGE_VENDOR "The Vellumor authors")
set(CPACK_PACKAGE_CONTACT "${VELLUMOR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "covers the desktop with one even colour")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian's name for the file, vellumor_<version>_<arch>.deb, rather than CPack's
# Vellumor-<version>-Linux.deb.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its Wayland platform as a plugin, which no library dependency brings in; without it
# the program runs on X11 (XWayland) alone.
if(VELLUMOR_WAYLAND)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()
# dpkg's own rules for the permissions of the control files (md5sums 0644 and so on).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description, below the summary line; CPack indents it. No semicolons: CMake would
# take them for list separators.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "While it runs, Vellumor covers every display with a borderless window of one\n"
    "solid colour, just above the desktop and below every ordinary window. Its tray\n"
    "icon's menu picks the colour, shows or hides the cover, shows an About window\n"
    "and quits. The colour is kept for the next start. It needs an X11 desktop (or\n"
    "XWayland) and a system tray.")
# cpack packages what is built and does not build it first (`make install` does not either),
# so that packaging a built tree, as the package test does, compiles nothing.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

include(CPack)
