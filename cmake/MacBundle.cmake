# Vellumor.app: the macOS application bundle around the program.
#
# Included by a CMakeLists.txt, it defines vellumor_make_mac_bundle(). Run as a script
# (cmake -DVELLUMOR_BUNDLE=<path to .app> -DVELLUMOR_PLUTIL=<plutil>
# -DVELLUMOR_CODESIGN=<codesign> -P MacBundle.cmake) it is the bundle's last build step: it
# writes the build date into the bundle's Info.plist and then signs the bundle (ad hoc), in
# that order, so that the signature covers the final Info.plist.

if(CMAKE_SCRIPT_MODE_FILE)
    foreach(variable VELLUMOR_BUNDLE VELLUMOR_PLUTIL VELLUMOR_CODESIGN)
        if(NOT ${variable})
            message(FATAL_ERROR "MacBundle.cmake as a script needs -D${variable}=...")
        endif()
    endforeach()
    string(TIMESTAMP buildDate "%Y-%m-%d %H:%M UTC" UTC)
    execute_process(
        COMMAND "${VELLUMOR_PLUTIL}" -replace BuildDate -string "${buildDate}"
            "${VELLUMOR_BUNDLE}/Contents/Info.plist"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Could not write BuildDate into ${VELLUMOR_BUNDLE}")
    endif()
    execute_process(COMMAND "${VELLUMOR_CODESIGN}" --force --sign - "${VELLUMOR_BUNDLE}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Could not sign ${VELLUMOR_BUNDLE}")
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
# and an ad-hoc signature; the last two come from the target `<target>_bundle`, which the
# default build includes (building `target` alone leaves the bundle unsigned).
function(vellumor_make_mac_bundle target)
    if(NOT CMAKE_OSX_DEPLOYMENT_TARGET OR CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS 11.0)
        message(FATAL_ERROR "Vellumor.app needs CMAKE_OSX_DEPLOYMENT_TARGET 11.0 or later "
            "(set before project()); it is '${CMAKE_OSX_DEPLOYMENT_TARGET}'.")
    endif()

    set(cocoaDir ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../platform/cocoa)
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

    # The build date and the signature go in after the whole target is built, which is later
    # than its POST_BUILD: the Makefile generator copies the icon into the bundle after
    # POST_BUILD, and every configure writes Info.plist anew (BuildDate "Unknown") without
    # relinking. So this step runs again whenever the executable, Info.plist or the icon is
    # newer than its last run, and the signature always covers what the bundle holds.
    find_program(VELLUMOR_PLUTIL plutil REQUIRED)
    find_program(VELLUMOR_CODESIGN codesign REQUIRED)
    set(sealed ${CMAKE_CURRENT_BINARY_DIR}/${target}-bundle-sealed)
    add_custom_command(OUTPUT ${sealed}
        COMMAND ${CMAKE_COMMAND} -DVELLUMOR_BUNDLE=$<TARGET_BUNDLE_DIR:${target}>
            -DVELLUMOR_PLUTIL=${VELLUMOR_PLUTIL} -DVELLUMOR_CODESIGN=${VELLUMOR_CODESIGN}
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
        # Last: newer than everything the signing rewrote, the executable included.
        COMMAND ${CMAKE_COMMAND} -E touch ${sealed}
        DEPENDS ${target} $<TARGET_BUNDLE_CONTENT_DIR:${target}>/Info.plist ${icon}
        COMMENT "Writing the build date into Vellumor.app and signing it (ad hoc)"
        VERBATIM)
    add_custom_target(${target}_bundle ALL DEPENDS ${sealed})
endfunction()
