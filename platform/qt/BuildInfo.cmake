# Writes the source that carries the build time into the program's bundle information. Run
# at every build (not at configure time), it rewrites the file only when the text changes, so
# that a build within the same minute compiles nothing. SOURCE_DATE_EPOCH, when set, gives a
# reproducible date instead of the clock.
#   cmake -DOUTPUT=<file> -P BuildInfo.cmake
string(TIMESTAMP build_date "%Y-%m-%d %H:%M UTC" UTC)
set(text "// Made at build time by platform/qt/BuildInfo.cmake.
#define VELLUMOR_BUILD_DATE \"${build_date}\"

#include \"platform/qt/QtBuildInfo.h\"

const char* platform::qt::buildDate() { return VELLUMOR_BUILD_DATE; }
")
set(old "")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
    file(WRITE "${OUTPUT}" "${text}")
endif()
