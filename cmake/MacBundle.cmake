# Vellumor.app: the macOS application bundle around the program.
#
# Included by a CMakeLists.txt, it defines vellumor_make_mac_bundle(). Run as a script
# (cmake -DVELLUMOR_BUNDLE=<path to .app> -P MacBundle.cmake) it is the bundle's build-time
# step: it writes the build date into the bundle's Info.plist.

if(CMAKE_SCRIPT_MODE_FILE)
    if(NOT VELLUMOR_BUNDLE)
        message(FATAL_ERROR "MacBundle.cmake as a script needs -DVELLUMOR_BUNDLE=<bundle>")
    endif()
    string(TIMESTAMP buildDate "%Y-%m-%d %H:%M UTC" UTC)
    execute_process(
        COMMAND /usr/bin/plutil -replace BuildDate -string "${buildDate}"
            "${VELLUMOR_BUNDLE}/Contents/Info.plist"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Could not write BuildDate into ${VELLUMOR_BUNDLE}")
    endif()
    return()
endif()

# Both Mac architectures: the bundle runs natively on Intel and Apple silicon.
set(VELLUMOR_MAC_ARCHITECTURES "x86_64;arm64" CACHE STRING
    "Architectures of Vellumor.app and the libraries it links")

# Builds every library of the project that `target` links (directly or not) for
# VELLUMOR_MAC_ARCHITECTURES. Only what goes into the bundle: the tests and the libraries
# only they use stay native, since packaged test dependencies are often single-architecture.
function(_vellumor_make_universal target)
    get_target_property(imported ${target} IMPORTED)
    get_target_property(type ${target} TYPE)
    if(imported OR type STREQUAL "INTERFACE_LIBRARY")
        return()
    endif()
    get_target_property(current ${target} OSX_ARCHITECTURES)
    if(current STREQUAL "${VELLUMOR_MAC_ARCHITECTURES}")
        return()
    endif()
    set_property(TARGET ${target} PROPERTY OSX_ARCHITECTURES ${VELLUMOR_MAC_ARCHITECTURES})
    get_target_property(links ${target} LINK_LIBRARIES)
    foreach(link IN LISTS links)
        if(TARGET "${link}")
            _vellumor_make_universal(${link})
        endif()
    endforeach()
endfunction()

# Turns the executable `target` (made with add_executable(... MACOSX_BUNDLE ...) and linked
# to everything it needs) into Vellumor.app: Info.plist, icon, universal binary, build date
# and an ad-hoc signature.
function(vellumor_make_mac_bundle target)
    if(NOT CMAKE_OSX_DEPLOYMENT_TARGET OR CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS 11.0)
        message(FATAL_ERROR "Vellumor.app needs CMAKE_OSX_DEPLOYMENT_TARGET 11.0 or later "
            "(set before project()); it is '${CMAKE_OSX_DEPLOYMENT_TARGET}'.")
    endif()

    set(cocoaDir ${PROJECT_SOURCE_DIR}/platform/cocoa)
    set(icon ${cocoaDir}/icon/Vellumor.icns)
    target_sources(${target} PRIVATE ${icon})
    set_source_files_properties(${icon} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)

    set_target_properties(${target} PROPERTIES
        MACOSX_BUNDLE TRUE
        OUTPUT_NAME Vellumor
        MACOSX_BUNDLE_INFO_PLIST ${cocoaDir}/Info.plist.in
        MACOSX_BUNDLE_BUNDLE_NAME Vellumor
        MACOSX_BUNDLE_GUI_IDENTIFIER org.vellumor.Vellumor
        MACOSX_BUNDLE_ICON_FILE Vellumor.icns
        MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
        MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    )
    _vellumor_make_universal(${target})

    # The date goes in at build time, and the signature last: it seals the finished bundle.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DVELLUMOR_BUNDLE=$<TARGET_BUNDLE_DIR:${target}>
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        COMMAND /usr/bin/codesign --force --sign - $<TARGET_BUNDLE_DIR:${target}>
        COMMENT "Writing the build date into Vellumor.app and signing it (ad hoc)"
        VERBATIM)
endfunction()
