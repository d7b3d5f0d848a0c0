# The Wayland half of the Linux backend is built where libwayland-client, wayland-scanner and
# the wayland-protocols descriptions are found; without them the program runs on X11 alone.
# Sets VELLUMOR_WAYLAND and, when on, the target vellumor_wayland_protocols: the client code
# that wayland-scanner generates for the protocols the backend speaks.
pkg_check_modules(WAYLAND_CLIENT IMPORTED_TARGET wayland-client)
pkg_check_modules(WAYLAND_PROTOCOLS wayland-protocols)
pkg_check_modules(WAYLAND_SCANNER wayland-scanner)
set(VELLUMOR_WAYLAND OFF)
if(WAYLAND_CLIENT_FOUND AND WAYLAND_PROTOCOLS_FOUND AND WAYLAND_SCANNER_FOUND)
    pkg_get_variable(wayland_protocols_dir wayland-protocols pkgdatadir)
    pkg_get_variable(wayland_scanner wayland-scanner wayland_scanner)
    if(EXISTS "${wayland_scanner}" AND EXISTS "${wayland_protocols_dir}")
        set(VELLUMOR_WAYLAND ON)
    endif()
endif()
# Seen by the tests' directories too.
set(VELLUMOR_WAYLAND ${VELLUMOR_WAYLAND} CACHE INTERNAL "Whether the Wayland half is built")
if(NOT VELLUMOR_WAYLAND)
    message(STATUS "Wayland backend left out: libwayland-client, wayland-protocols or "
        "wayland-scanner was not found (Debian: libwayland-dev wayland-protocols libwayland-bin)")
    return()
endif()
message(STATUS "Wayland backend: ${wayland_scanner}, protocols in ${wayland_protocols_dir}")

# wayland-scanner writes C.
enable_language(C)

set(protocols
    ${CMAKE_CURRENT_SOURCE_DIR}/protocols/wlr-layer-shell-unstable-v1.xml
    ${wayland_protocols_dir}/stable/viewporter/viewporter.xml
    ${wayland_protocols_dir}/stable/xdg-shell/xdg-shell.xml
    ${wayland_protocols_dir}/unstable/xdg-output/xdg-output-unstable-v1.xml)
# For the tests' stand-in compositor, which needs the server side of the same protocols.
set(VELLUMOR_WAYLAND_SCANNER ${wayland_scanner} CACHE INTERNAL "wayland-scanner")
set(VELLUMOR_WAYLAND_PROTOCOLS ${protocols} CACHE INTERNAL "The protocols the backend speaks")

set(protocol_dir ${CMAKE_CURRENT_BINARY_DIR}/protocols)
file(MAKE_DIRECTORY ${protocol_dir})
set(protocol_sources "")
# Each protocol gives <name>-client-protocol.h and <name>-protocol.c.
foreach(protocol ${protocols})
    get_filename_component(name ${protocol} NAME_WE)
    add_custom_command(
        OUTPUT ${protocol_dir}/${name}-client-protocol.h ${protocol_dir}/${name}-protocol.c
        COMMAND ${wayland_scanner} client-header ${protocol}
            ${protocol_dir}/${name}-client-protocol.h
        COMMAND ${wayland_scanner} private-code ${protocol} ${protocol_dir}/${name}-protocol.c
        DEPENDS ${protocol}
        COMMENT "Generating the Wayland client code of ${name}"
        VERBATIM)
    list(APPEND protocol_sources ${protocol_dir}/${name}-protocol.c
        ${protocol_dir}/${name}-client-protocol.h)
endforeach()

# Generated code, built without the project's warnings; its headers are system headers to the
# code that includes them, for the same reason. xdg-shell is here only because the layer
# shell's get_popup names xdg_popup.
add_library(vellumor_wayland_protocols STATIC ${protocol_sources})
target_include_directories(vellumor_wayland_protocols SYSTEM PUBLIC ${protocol_dir})
target_link_libraries(vellumor_wayland_protocols PUBLIC PkgConfig::WAYLAND_CLIENT)
set_target_properties(vellumor_wayland_protocols PROPERTIES POSITION_INDEPENDENT_CODE ON)
