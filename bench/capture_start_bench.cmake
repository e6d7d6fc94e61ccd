# The capture tool's start on a real X server against bare reads of the same
# screen (XGetImage, and XShmGetImage through MIT-SHM).
pkg_check_modules(CAPTURE_BENCH_XLIBS REQUIRED IMPORTED_TARGET x11 xext)
target_link_libraries(capture_start_bench PRIVATE translate PkgConfig::CAPTURE_BENCH_XLIBS)
