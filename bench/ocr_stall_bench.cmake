# The longest main-thread stall of a 4K screenshot recognition (mainland road,
# local fake services) against that of an idle event loop in the same run.
target_link_libraries(ocr_stall_bench PRIVATE translate pravik_fakes)
