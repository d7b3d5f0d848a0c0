# What a target needs to build against GNUstep's AppKit and Foundation: GNUstep's definitions
# and include directories (as system headers: their warnings are not ours) and its libraries.
# GNUstep's own optimisation and warning flags are left out: they would override the build's.
function(vellumor_use_gnustep target)
    find_program(VELLUMOR_GNUSTEP_CONFIG gnustep-config REQUIRED)
    execute_process(COMMAND ${VELLUMOR_GNUSTEP_CONFIG} --objc-flags
        OUTPUT_VARIABLE objc_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${VELLUMOR_GNUSTEP_CONFIG} --gui-libs
        OUTPUT_VARIABLE gui_libs OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(objc_flags UNIX_COMMAND "${objc_flags}")
    separate_arguments(gui_libs UNIX_COMMAND "${gui_libs}")
    foreach(flag IN LISTS objc_flags)
        if(flag MATCHES "^-D(.*)")
            target_compile_definitions(${target} PRIVATE ${CMAKE_MATCH_1})
        elseif(flag MATCHES "^-I(/.*)")
            if(IS_DIRECTORY "${CMAKE_MATCH_1}")
                target_include_directories(${target} SYSTEM PRIVATE ${CMAKE_MATCH_1})
            endif()
        endif()
    endforeach()
    target_link_libraries(${target} PRIVATE ${gui_libs})
endfunction()
