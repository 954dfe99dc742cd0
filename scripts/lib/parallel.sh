# Builds and test runs use every core of the machine unless the caller set
# its own count (CMAKE_BUILD_PARALLEL_LEVEL, CTEST_PARALLEL_LEVEL).
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc)}"
