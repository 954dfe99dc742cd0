# The generated header build_info.h: the project version and the build stamp.
# string(TIMESTAMP) takes SOURCE_DATE_EPOCH when it is set, else the time of
# this configure run; one call, so the date and the time are of one moment.
string(TIMESTAMP ob_stamp "%b %d %Y|%H:%M:%S" UTC)
string(REGEX REPLACE "\\|.*" "" OB_BUILD_DATE "${ob_stamp}")
string(REGEX REPLACE ".*\\|" "" OB_BUILD_TIME "${ob_stamp}")
# __DATE__ pads a one-digit day with a blank, not a zero.
string(REGEX REPLACE "^([A-Z][a-z][a-z]) 0" "\\1  " OB_BUILD_DATE "${OB_BUILD_DATE}")
set(OB_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
# Written only when the text changes, so an unchanged stamp rebuilds nothing.
configure_file("${CMAKE_SOURCE_DIR}/common/build_info.h.in" "${OB_GENERATED_DIR}/build_info.h" @ONLY)
