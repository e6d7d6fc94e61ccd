# The capture tool's start on a real X server against a bare XGetImage of the same screen.
target_link_libraries(capture_start_bench PRIVATE translate)
